#pragma once

// Where a port number leads: COMn on Windows; elsewhere the link or device `comN` in the
// program's folder when one is there (a pseudo-terminal or a USB adapter linked by the user),
// else the n-th built-in serial port /dev/ttyS(n-1).

#include <QString>

namespace meterlog {

QString deviceForPortNumber(int number, const QString &programDir);

} // namespace meterlog

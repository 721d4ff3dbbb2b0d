#pragma once

// meterlog --scan: finds the meters on a line, prints what it found and ends.

#include <QString>

#include "app/commandline.h"

namespace meterlog {

// Returns the program's exit code: 0 when every address was asked, 1 when the link could not be
// had or was lost, or the scan was stopped.
int runBusScanCommand(const ProgramOptions &options, const QString &folder);

} // namespace meterlog

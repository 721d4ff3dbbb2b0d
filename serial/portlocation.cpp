#include "serial/portlocation.h"

#include <QDir>
#include <QFileInfo>

namespace meterlog {

QString deviceForPortNumber(int number, const QString &programDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return QStringLiteral("COM%1").arg(number);
#else
    const QFileInfo link(QDir(programDir).filePath(QStringLiteral("com%1").arg(number)));
    // A dangling link still names the port the user meant; opening it then fails as it should.
    if (link.exists() || link.isSymLink())
        return link.absoluteFilePath();
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

} // namespace meterlog

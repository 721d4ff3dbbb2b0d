#include "app/programfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace meterlog {

bool isWritableFolder(const QString &path)
{
    if (!QFileInfo(path).isDir())
        return false;
    QTemporaryFile probe(path + QStringLiteral("/.meterlog-probe-XXXXXX"));
    return probe.open();
}

FolderChoice chooseFolder(const std::optional<QString> &given,
    const std::optional<QString> &programFolder, const QString &dataFolder)
{
    if (given)
        return {*given, QStringLiteral("the folder given by --folder")};
    if (programFolder && isWritableFolder(*programFolder))
        return {*programFolder, QStringLiteral("the program's folder")};
    // Where it cannot be made, writing the snapshot fails, and the log says so.
    QDir().mkpath(dataFolder);
    const QString why = programFolder
        ? QStringLiteral("the program's folder %1 takes no files").arg(*programFolder)
        : QStringLiteral("the program is installed");
    return {dataFolder, QStringLiteral("the user's data folder (%1)").arg(why)};
}

} // namespace meterlog

#include "table/snapshotfile.h"

#include <QDir>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

namespace meterlog {

QString snapshotPath(const QString &programDir)
{
    return QDir(programDir).filePath(QStringLiteral("datamirab.txt"));
}

FileWrite writeSnapshotFile(const QString &programDir, const QString &line)
{
    // The new content goes to a file of its own in the same folder, which then takes the
    // snapshot's name in one rename. No sync to disk: the next summary rewrites it anyway.
    QTemporaryFile next(QDir(programDir).filePath(QStringLiteral(".datamirab.XXXXXX")));
    if (!next.open())
        return {next.errorString()};
    // Other programs read the file; a temporary file starts readable by its owner only.
    next.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QByteArray bytes = line.toLocal8Bit() + "\r\n";
    if (next.write(bytes) != bytes.size() || !next.flush())
        return {next.errorString()};
    next.close();

    std::error_code error;
    std::filesystem::rename(std::filesystem::path(next.fileName().toStdU16String()),
        std::filesystem::path(snapshotPath(programDir).toStdU16String()), error);
    if (error)
        return {QString::fromStdString(error.message())};
    next.setAutoRemove(false);
    return {};
}

} // namespace meterlog

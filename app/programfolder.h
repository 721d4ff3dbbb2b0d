#pragma once

// The folder meterlog keeps its snapshot file in and looks for its comN links in: the folder the
// command line gives; else the program's own folder where it may write there (a build tree, a
// copy in a folder of its own); else the user's data folder (~/.local/share/meterlog), made when
// missing. An installed meterlog's folder (/usr/bin) is never used: it holds programs, and only
// root could write there.

#include <QString>

#include <optional>

namespace meterlog {

struct FolderChoice
{
    QString folder;
    QString reason; // for the log: why this one
};

// `programFolder` is empty for an installed program.
FolderChoice chooseFolder(const std::optional<QString> &given,
    const std::optional<QString> &programFolder, const QString &dataFolder);

// A folder that exists and takes a new file. Asking the file system is the only sure test: the
// permission bits tell nothing of read-only mounts, nor of root.
bool isWritableFolder(const QString &path);

} // namespace meterlog

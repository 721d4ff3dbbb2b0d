#pragma once

// The lines that open and close a run's log: what this run does (port, line, meters, range,
// files, broker, its password left out), and how long it ran and why it stopped.

#include <QString>

#include <chrono>

#include "app/commandline.h"
#include "app/programfolder.h"

namespace meterlog {

// What a run of `options` would do, a line each: the line, the link, and each meter with its type,
// requests and limits.
QString checkReport(const ProgramOptions &options);
QString startLine(const ProgramOptions &options, const FolderChoice &folder);
QString stopLine(std::chrono::milliseconds ranFor, const QString &why);

} // namespace meterlog

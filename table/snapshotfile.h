#pragma once

// The snapshot file beside the program: one line and CR LF, for other programs to read. It is
// replaced, never rewritten in place, so a reader finds the old line or the new one and never an
// empty or half-written file.

#include <QString>

namespace meterlog {

QString snapshotPath(const QString &programDir);

struct FileWrite
{
    QString failure; // why the file could not be written; empty when it was
    explicit operator bool() const { return failure.isEmpty(); }
};

// Replaces the file's content with `line` and CR LF. On failure the old content stays.
FileWrite writeSnapshotFile(const QString &programDir, const QString &line);

} // namespace meterlog

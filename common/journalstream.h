#pragma once

// Whether stderr is the systemd journal: systemd names the stream it gives a service in
// JOURNAL_STREAM ("device:inode", decimal), and a descriptor is that stream only while its device
// and inode match, since a program whose stderr was sent elsewhere still inherits the variable.

#include <QByteArrayView>

namespace meterlog {

bool isJournalStream(int fd, QByteArrayView journalStream);
bool stderrIsJournal();

} // namespace meterlog

#include "common/journalstream.h"

#include <QByteArray>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace meterlog {

bool isJournalStream(int fd, QByteArrayView journalStream)
{
#ifdef Q_OS_UNIX
    const qsizetype colon = journalStream.indexOf(':');
    if (colon < 0)
        return false;
    bool deviceRead = false;
    bool inodeRead = false;
    const qulonglong device = journalStream.first(colon).toULongLong(&deviceRead);
    const qulonglong inode = journalStream.sliced(colon + 1).toULongLong(&inodeRead);
    struct stat status
    {
    };
    return deviceRead && inodeRead && ::fstat(fd, &status) == 0 && status.st_dev == device
        && status.st_ino == inode;
#else
    // Only systemd hands out journal streams.
    Q_UNUSED(fd);
    Q_UNUSED(journalStream);
    return false;
#endif
}

bool stderrIsJournal()
{
    return isJournalStream(2, qgetenv("JOURNAL_STREAM"));
}

} // namespace meterlog

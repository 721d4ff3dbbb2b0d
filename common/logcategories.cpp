#include "common/logcategories.h"

#include "common/journalstream.h"

namespace meterlog {

// What a run does, when it starts, and when and why it stops.
Q_LOGGING_CATEGORY(lcRun, "meterlog")
Q_LOGGING_CATEGORY(lcPort, "meterlog.port")
Q_LOGGING_CATEGORY(lcScan, "meterlog.scan")
Q_LOGGING_CATEGORY(lcFile, "meterlog.file")
Q_LOGGING_CATEGORY(lcPublish, "meterlog.publish")
// Debug messages here are one per frame: off by default.
Q_LOGGING_CATEGORY(lcFrames, "meterlog.frames", QtInfoMsg)

void useLogFormat()
{
    const QString line = QStringLiteral("%{type} %{if-category}%{category}: %{endif}%{message}");
    // The journal stamps each line with its own time and files it at the syslog level of its
    // "<N>" prefix, so that `journalctl -p warning` finds every trouble.
    const QString syslogLevel = QStringLiteral("%{if-debug}<7>%{endif}%{if-info}<6>%{endif}"
                                               "%{if-warning}<4>%{endif}%{if-critical}<3>%{endif}"
                                               "%{if-fatal}<2>%{endif}");
    qSetMessagePattern(stderrIsJournal()
            ? syslogLevel + line
            : QStringLiteral("%{time yyyy-MM-dd HH:mm:ss.zzz} ") + line);
}

} // namespace meterlog

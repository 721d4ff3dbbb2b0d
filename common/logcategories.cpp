#include "logcategories.h"

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
    qSetMessagePattern(QStringLiteral(
        "%{time yyyy-MM-dd HH:mm:ss.zzz} %{type} %{if-category}%{category}: %{endif}%{message}"));
}

} // namespace meterlog

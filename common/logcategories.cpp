#include "logcategories.h"

namespace meterlog {

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

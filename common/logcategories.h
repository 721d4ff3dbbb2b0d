#pragma once

// meterlog's log categories, one per area. Warnings say what went wrong and when it is mended;
// meterlog.frames is a bus monitor at debug level, off unless asked for (--trace, or
// QT_LOGGING_RULES="meterlog.frames.debug=true").

#include <QLoggingCategory>

namespace meterlog {

Q_DECLARE_LOGGING_CATEGORY(lcRun)
Q_DECLARE_LOGGING_CATEGORY(lcPort)
Q_DECLARE_LOGGING_CATEGORY(lcScan)
Q_DECLARE_LOGGING_CATEGORY(lcFile)
Q_DECLARE_LOGGING_CATEGORY(lcPublish)
Q_DECLARE_LOGGING_CATEGORY(lcFrames)

// Every message goes to stderr with its time, level and category; when stderr is the journal, with
// its syslog level as a "<N>" prefix instead of the time. QT_MESSAGE_PATTERN still overrides the
// format.
void useLogFormat();

} // namespace meterlog

#include "meters/reading.h"

#include <cstdlib>

namespace meterlog {

QString isoLocalTime(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    // Qt's own ISO form leaves a local time's offset out, and writes a zero one as "Z".
    const int offsetMinutes = local.offsetFromUtc() / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(QChar(offsetMinutes < 0 ? u'-' : u'+'))
              .arg(std::abs(offsetMinutes) / 60, 2, 10, QLatin1Char('0'))
              .arg(std::abs(offsetMinutes) % 60, 2, 10, QLatin1Char('0'));
}

} // namespace meterlog

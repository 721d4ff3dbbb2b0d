#include "publish/mqtttarget.h"

#include <QUrl>

namespace meterlog {

std::optional<MqttTarget> parseMqttUrl(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty() || parsed.hasQuery() || parsed.hasFragment())
        return std::nullopt;
    MqttTarget target;
    if (parsed.scheme() == u"mqtts")
        target.tls = true;
    else if (parsed.scheme() != u"mqtt")
        return std::nullopt;
    target.host = parsed.host();
    target.port = parsed.port(target.tls ? 8883 : 1883);
    // Port 0 would mean "any free port" to the system, which no broker listens on.
    if (target.port < 1 || target.port > 65535)
        return std::nullopt;
    target.user = parsed.userName();
    target.password = parsed.password();
    target.prefix = parsed.path();
    if (target.prefix.startsWith(u'/'))
        target.prefix.remove(0, 1);
    if (target.prefix.isEmpty() || target.prefix.endsWith(u'/') || target.prefix.contains(u'+')
        || target.prefix.contains(u'#') || target.prefix.contains(QStringLiteral("//")))
        return std::nullopt;
    return target;
}

QString describeTarget(const MqttTarget &target)
{
    const QString user = target.user.isEmpty() ? QString() : target.user + u'@';
    return QStringLiteral("%1://%2%3:%4/%5")
        .arg(target.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), user, target.host)
        .arg(target.port)
        .arg(target.prefix);
}

} // namespace meterlog

#include "mqttpublisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>

#include "logcategories.h"

namespace meterlog {

namespace {

constexpr int keepAliveSeconds = 30;
constexpr int loopMilliseconds = 1000;
constexpr std::chrono::seconds firstRetry {1};
constexpr std::chrono::seconds longestRetry {30};
// How long a clean exit waits for the broker to take "offline".
constexpr std::chrono::seconds offlineWait {2};

// libmosquitto's words for an error, fit to follow a colon: "connection refused".
QString reasonOf(const char *libraryText)
{
    QString reason = QString::fromUtf8(libraryText);
    if (reason.endsWith(u'.'))
        reason.chop(1);
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    return reason;
}

void initialiseLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QJsonValue addressValue(const std::optional<std::uint8_t> &address)
{
    return address ? QJsonValue(int(*address)) : QJsonValue(QJsonValue::Null);
}

} // namespace

QByteArray meterStateJson(const MeterCounters &meter)
{
    const QJsonObject object {
        {QStringLiteral("address"), addressValue(meter.lastDevice)},
        {QStringLiteral("state"),
            meter.confirmed() ? QStringLiteral("ok") : QStringLiteral("stale")},
        {QStringLiteral("requests"), qint64(meter.requestsSent)},
        {QStringLiteral("replies"), qint64(meter.verifiedReplies)},
        {QStringLiteral("timeouts"), qint64(meter.timeouts)},
        {QStringLiteral("crcErrors"), qint64(meter.crcErrors)},
        {QStringLiteral("foreignReplies"), qint64(meter.foreignReplies)},
        {QStringLiteral("exceptions"), qint64(meter.exceptionReplies)},
        {QStringLiteral("lastReply"),
            meter.lastReplyAt.isNull() ? QJsonValue(QJsonValue::Null)
                                       : QJsonValue(isoLocalTime(meter.lastReplyAt))},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray registersJson(const RegisterBlock &block)
{
    QJsonArray words;
    for (const auto word : block.words)
        words.append(int(word));
    const QJsonObject object {
        {QStringLiteral("address"), int(block.address)},
        {QStringLiteral("start"), int(block.start)},
        {QStringLiteral("words"), words},
        {QStringLiteral("time"), isoLocalTime(block.at)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

MqttPublisher::MqttPublisher(MqttTarget target)
    : m_target(std::move(target))
    , m_described(describeTarget(m_target))
    , m_unreachable(lcPublish)
{
    initialiseLibraryOnce();
    m_client = mosquitto_new(nullptr, true, this);
    mosquitto_threaded_set(m_client, true);
    const QByteArray offline("offline");
    mosquitto_will_set(m_client, topic(QStringLiteral("status")).constData(), int(offline.size()),
        offline.constData(), 1, true);
    if (!m_target.user.isEmpty()) {
        mosquitto_username_pw_set(m_client, m_target.user.toUtf8().constData(),
            m_target.password.isEmpty() ? nullptr : m_target.password.toUtf8().constData());
    }
    if (m_target.tls) {
        mosquitto_tls_set(m_client,
            m_target.caFile.isEmpty() ? nullptr : m_target.caFile.toLocal8Bit().constData(),
            m_target.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    }
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *self, int result) {
        static_cast<MqttPublisher *>(self)->onConnect(result);
    });
    mosquitto_disconnect_callback_set(m_client, [](mosquitto *, void *self, int result) {
        static_cast<MqttPublisher *>(self)->onDisconnect(result);
    });
    mosquitto_publish_callback_set(m_client, [](mosquitto *, void *self, int id) {
        auto *publisher = static_cast<MqttPublisher *>(self);
        std::lock_guard lock(publisher->m_mutex);
        if (id == publisher->m_offlineId) {
            publisher->m_offlineDelivered = true;
            publisher->m_changed.notify_all();
        }
    });
    m_network = std::thread([this] { run(); });
}

MqttPublisher::~MqttPublisher()
{
    std::unique_lock lock(m_mutex);
    m_stopping = true;
    if (m_connected) {
        const QByteArray offline("offline");
        mosquitto_publish(m_client, &m_offlineId, topic(QStringLiteral("status")).constData(),
            int(offline.size()), offline.constData(), 1, true);
        m_changed.wait_for(lock, offlineWait, [this] { return m_offlineDelivered; });
    }
    lock.unlock();
    mosquitto_disconnect(m_client);
    m_changed.notify_all();
    m_network.join();
    mosquitto_destroy(m_client);
}

QByteArray MqttPublisher::topic(const QString &below) const
{
    return (m_target.prefix + u'/' + below).toUtf8();
}

void MqttPublisher::run()
{
    auto retry = firstRetry;
    while (true) {
        int result = mosquitto_connect(
            m_client, m_target.host.toUtf8().constData(), m_target.port, keepAliveSeconds);
        if (result == MOSQ_ERR_SUCCESS) {
            retry = firstRetry;
            do
                result = mosquitto_loop(m_client, loopMilliseconds, 1);
            while (result == MOSQ_ERR_SUCCESS);
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
        }
        m_connected = false;
        m_unreachable.persists(QStringLiteral("MQTT broker %1 cannot be reached: %2; trying again")
                                   .arg(m_described, reasonOf(mosquitto_strerror(result))));
        if (!waitToRetry(retry))
            return;
        retry = std::min(retry * 2, longestRetry);
    }
}

bool MqttPublisher::waitToRetry(std::chrono::seconds delay)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, delay, [this] { return m_stopping; });
}

void MqttPublisher::onConnect(int result)
{
    if (result != 0) {
        // The broker refused (a wrong password, say); the loop ends and tries again later.
        m_unreachable.persists(QStringLiteral("MQTT broker %1 refused the connection: %2")
                                   .arg(m_described, reasonOf(mosquitto_connack_string(result))));
        return;
    }
    if (m_unreachable.isOn())
        m_unreachable.cleared(QStringLiteral("MQTT broker %1 connected").arg(m_described));
    else
        qCInfo(lcPublish).noquote() << "publishing to" << m_described;
    const QByteArray online("online");
    mosquitto_publish(m_client, nullptr, topic(QStringLiteral("status")).constData(),
        int(online.size()), online.constData(), 1, true);
    // The latest retained values, for those who subscribe from now on.
    std::lock_guard lock(m_mutex);
    for (const auto &[name, payload] : m_retained)
        mosquitto_publish(
            m_client, nullptr, name.constData(), int(payload.size()), payload.constData(), 0, true);
    m_connected = true;
}

void MqttPublisher::onDisconnect(int result)
{
    m_connected = false;
    if (result != 0) {
        m_unreachable.persists(QStringLiteral("MQTT broker %1: %2")
                                   .arg(m_described, reasonOf(mosquitto_strerror(result))));
    }
}

void MqttPublisher::publishRetained(const QByteArray &name, const QByteArray &payload)
{
    std::lock_guard lock(m_mutex);
    auto &kept = m_retained[name];
    if (kept == payload && !kept.isNull())
        return;
    kept = payload;
    if (m_connected)
        mosquitto_publish(
            m_client, nullptr, name.constData(), int(payload.size()), payload.constData(), 0, true);
}

void MqttPublisher::publishReading(const Reading &reading)
{
    publishRetained(topic(QStringLiteral("snapshot")), reading.snapshotLine.toUtf8());
    publishRetained(topic(QStringLiteral("frequency")), reading.frequency.toUtf8());
    for (int meter = 0; meter < slotCount; ++meter) {
        const QString below = QStringLiteral("meter/%1/").arg(meter + 1);
        publishRetained(topic(below + QStringLiteral("kw")), reading.kilowatts[meter].toUtf8());
        publishRetained(
            topic(below + QStringLiteral("state")), meterStateJson(reading.meters[meter]));
    }
}

void MqttPublisher::publishRegisters(const RegisterBlock &block)
{
    if (!m_connected)
        return;
    const QByteArray name = topic(QStringLiteral("meter/%1/registers").arg(block.meter + 1));
    const QByteArray payload = registersJson(block);
    mosquitto_publish(
        m_client, nullptr, name.constData(), int(payload.size()), payload.constData(), 0, false);
}

} // namespace meterlog

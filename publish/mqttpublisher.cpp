#include "mqttpublisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "brokerlink.h"

namespace meterlog {

namespace {

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
    : m_prefix(target.prefix)
    , m_link(BrokerLink::start(target, topic(QStringLiteral("status"))))
{ }

MqttPublisher::~MqttPublisher()
{
    m_link->stop();
}

QByteArray MqttPublisher::topic(const QString &below) const
{
    return (m_prefix + u'/' + below).toUtf8();
}

void MqttPublisher::publishReading(const Reading &reading)
{
    m_link->publishRetained(topic(QStringLiteral("snapshot")), reading.snapshotLine.toUtf8());
    m_link->publishRetained(topic(QStringLiteral("frequency")), reading.frequency.toUtf8());
    for (int meter = 0; meter < slotCount; ++meter) {
        const QString below = QStringLiteral("meter/%1/").arg(meter + 1);
        m_link->publishRetained(
            topic(below + QStringLiteral("kw")), reading.kilowatts[meter].toUtf8());
        m_link->publishRetained(
            topic(below + QStringLiteral("state")), meterStateJson(reading.meters[meter]));
    }
}

void MqttPublisher::publishRegisters(const RegisterBlock &block)
{
    m_link->publishOnce(
        topic(QStringLiteral("meter/%1/registers").arg(block.meter + 1)), registersJson(block));
}

} // namespace meterlog

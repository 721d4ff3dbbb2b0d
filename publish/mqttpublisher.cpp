#include "publish/mqttpublisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "publish/brokerlink.h"

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

namespace {

QByteArray fieldPayload(const std::optional<double> &value)
{
    // A plain number, "." its decimal point; nothing for a value there is none of.
    return value ? QByteArray::number(*value, 'g', 12) : QByteArray();
}

QByteArray fieldsJson(const MeterFields &fields)
{
    QJsonObject object {{QStringLiteral("time"), isoLocalTime(fields.at)}};
    for (const auto &field : fields.values)
        object.insert(
            field.name, field.value ? QJsonValue(*field.value) : QJsonValue(QJsonValue::Null));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

MqttPublisher::MqttPublisher(MqttTarget target, std::optional<Discovery> discovery,
    BrokerPacing pacing, std::vector<MeterLabel> labels)
    : m_prefix(target.prefix)
    , m_discovery(std::move(discovery))
    , m_labels(std::move(labels))
    , m_link(BrokerLink::start(target, topic(QStringLiteral("status")), pacing))
{ }

MqttPublisher::~MqttPublisher()
{
    m_link->stop();
}

QString MqttPublisher::meterTopic(int index) const
{
    const QString id = std::size_t(index) < m_labels.size() ? m_labels[std::size_t(index)].id
                                                            : QString::number(index + 1);
    return id.isEmpty() ? QString() : QStringLiteral("meter/%1/").arg(id);
}

QByteArray MqttPublisher::topic(const QString &below) const
{
    return (m_prefix + u'/' + below).toUtf8();
}

void MqttPublisher::publishReading(const Reading &reading)
{
    m_link->publishRetained(topic(QStringLiteral("snapshot")), reading.snapshotLine.toUtf8());
    m_link->publishRetained(
        topic(QStringLiteral("frequency")), reading.frequency.trimmed().toUtf8());
    for (int meter = 0; meter < int(reading.meters.size()); ++meter) {
        const QString below = meterTopic(meter);
        if (below.isEmpty())
            continue;
        // The captions are the slots'; a meter beyond them gives its power as a field.
        if (meter < slotCount) {
            m_link->publishRetained(
                topic(below + QStringLiteral("kw")), reading.kilowatts[meter].toUtf8());
        }
        m_link->publishRetained(
            topic(below + QStringLiteral("state")), meterStateJson(reading.meters[meter]));
        if (const auto &fields = reading.fields[meter]; fields && fields->at.isValid()) {
            for (const auto &field : fields->values)
                m_link->publishRetained(topic(below + field.name), fieldPayload(field.value));
            m_link->publishRetained(topic(below + QStringLiteral("values")), fieldsJson(*fields));
        }
    }
    if (m_discovery) {
        for (const auto &message : m_discovery->messagesFor(reading))
            m_link->publishRetained(message.topic, message.payload);
    }
}

void MqttPublisher::publishRegisters(const RegisterBlock &block)
{
    const QString below = meterTopic(block.meter);
    if (!below.isEmpty())
        m_link->publishOnce(topic(below + QStringLiteral("registers")), registersJson(block));
}

} // namespace meterlog

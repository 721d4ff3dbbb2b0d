#include "publish/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <set>

#include "meters/metertypefile.h"

namespace meterlog {

namespace {

// "voltage_l1" -> "Voltage l1"
QString shownName(const QString &field)
{
    QString name = field;
    name.replace(u'_', u' ');
    name[0] = name[0].toUpper();
    return name;
}

} // namespace

Discovery::Discovery(QString discoveryPrefix, QString prefix, QString line,
    std::vector<std::optional<MeterType>> types, std::vector<MeterLabel> labels)
    : m_discoveryPrefix(std::move(discoveryPrefix))
    , m_prefix(std::move(prefix))
    , m_line(std::move(line))
    , m_types(std::move(types))
    , m_labels(std::move(labels))
{
    for (auto meter = m_labels.size(); meter < m_types.size(); ++meter)
        m_labels.push_back({QString::number(meter + 1), QStringLiteral("M%1").arg(meter + 1)});
    static const QRegularExpression notAnId(QStringLiteral("[^A-Za-z0-9_-]"));
    m_node = QString(m_prefix).replace(notAnId, QStringLiteral("_"));
    std::set<QString> fields;
    for (const auto &type : builtInMeterTypes()) {
        for (const auto &field : type.fields)
            fields.insert(field.name);
    }
    for (const auto &type : m_types) {
        if (type) {
            for (const auto &field : type->fields)
                fields.insert(field.name);
        }
    }
    m_knownFields = QStringList(fields.begin(), fields.end());
}

QByteArray Discovery::configTopic(int meter, const QString &field) const
{
    return QStringLiteral("%1/sensor/meterlog_%2_m%3/%4/config")
        .arg(m_discoveryPrefix, m_node, m_labels[meter].id, field)
        .toUtf8();
}

QByteArray Discovery::config(int meter, const MeterType &type, const MeterField &field) const
{
    const auto &label = m_labels[meter];
    const QString below = QStringLiteral("%1/meter/%2/").arg(m_prefix, label.id);
    const QString device = QStringLiteral("meterlog_%1_m%2").arg(m_node, label.id);
    // A meter named by its place is "Meter 3 on LINE"; one with a name of its own goes by it.
    const QString deviceName = label.name == u'M' + label.id
        ? QStringLiteral("Meter %1 on %2").arg(label.id, m_line)
        : label.name;
    QJsonObject object {
        {QStringLiteral("name"), shownName(field.name)},
        {QStringLiteral("unique_id"), device + u'_' + field.name},
        {QStringLiteral("state_topic"), below + field.name},
        // An empty payload is a value the meter did not give: unknown, never 0.
        {QStringLiteral("value_template"),
            QStringLiteral("{{ value if value | length > 0 else None }}")},
        {QStringLiteral("availability_mode"), QStringLiteral("all")},
        {QStringLiteral("availability"),
            QJsonArray {
                QJsonObject {{QStringLiteral("topic"), m_prefix + QStringLiteral("/status")},
                    {QStringLiteral("payload_available"), QStringLiteral("online")},
                    {QStringLiteral("payload_not_available"), QStringLiteral("offline")}},
                QJsonObject {{QStringLiteral("topic"), below + QStringLiteral("state")},
                    {QStringLiteral("value_template"), QStringLiteral("{{ value_json.state }}")},
                    {QStringLiteral("payload_available"), QStringLiteral("ok")},
                    {QStringLiteral("payload_not_available"), QStringLiteral("stale")}},
            }},
        {QStringLiteral("device"),
            QJsonObject {
                {QStringLiteral("identifiers"), QJsonArray {device}},
                {QStringLiteral("name"), deviceName},
                {QStringLiteral("model"), type.name},
                {QStringLiteral("manufacturer"), QStringLiteral("meterlog")},
            }},
    };
    if (!field.unit.isEmpty())
        object.insert(QStringLiteral("unit_of_measurement"), field.unit);
    if (!field.deviceClass.isEmpty())
        object.insert(QStringLiteral("device_class"), field.deviceClass);
    if (!field.stateClass.isEmpty())
        object.insert(QStringLiteral("state_class"), field.stateClass);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QList<DiscoveryMessage> &Discovery::messagesFor(const Reading &reading)
{
    const int meters = int(std::min(m_types.size(), reading.fields.size()));
    std::vector<bool> polledNow(static_cast<std::size_t>(meters));
    for (int meter = 0; meter < meters; ++meter)
        polledNow[meter] = m_types[meter] && reading.fields[meter] && !m_labels[meter].id.isEmpty();
    if (m_polled == polledNow)
        return m_messages;
    m_polled = polledNow;
    auto &messages = m_messages;
    messages.clear();
    for (int meter = 0; meter < meters; ++meter) {
        if (m_labels[meter].id.isEmpty())
            continue;
        const bool polled = polledNow[meter];
        for (const auto &name : m_knownFields) {
            const auto *field = polled ? fieldNamed(*m_types[meter], name) : nullptr;
            messages << DiscoveryMessage {configTopic(meter, name),
                field ? config(meter, *m_types[meter], *field) : QByteArray()};
        }
    }
    return messages;
}

} // namespace meterlog

#pragma once

// Home Assistant's MQTT discovery: a retained sensor config for every field of every polled
// typed meter, below the discovery prefix (homeassistant unless given), one device per meter.
// A meter's sensors are available while meterlog is online and the meter's state is "ok".

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

#include "meters/linemeter.h"
#include "meters/meters.h"
#include "meters/metertype.h"
#include "meters/reading.h"

namespace meterlog {

struct DiscoveryMessage
{
    QByteArray topic;
    QByteArray payload; // empty: the config is removed
};

class Discovery
{
public:
    // `prefix` is the readings' topic prefix, `line` what the devices say they are on; `types`
    // and `labels` have one entry a meter of the line. A meter's device and unique ids are made
    // from the prefix and its id, so adding a meter anywhere changes no other's.
    Discovery(QString discoveryPrefix, QString prefix, QString line,
        std::vector<std::optional<MeterType>> types, std::vector<MeterLabel> labels);

    // The configs for what `reading` polls; every other field a built-in type or a polled one
    // knows gets its config removed, so that a slot no longer polled leaves no sensor behind.
    // Made again only when the slots polled change.
    const QList<DiscoveryMessage> &messagesFor(const Reading &reading);

private:
    QByteArray configTopic(int meter, const QString &field) const;
    QByteArray config(int meter, const MeterType &type, const MeterField &field) const;

    QString m_discoveryPrefix;
    QString m_prefix;
    QString m_node; // the prefix, as an id
    QString m_line;
    std::vector<std::optional<MeterType>> m_types;
    std::vector<MeterLabel> m_labels;
    QStringList m_knownFields;
    std::optional<std::vector<bool>> m_polled; // what m_messages are for
    QList<DiscoveryMessage> m_messages;
};

} // namespace meterlog

#pragma once

// Publishes readings to an MQTT broker, its network work on a thread of its own (BrokerLink): a
// broker that is slow, down or unreachable never holds up polling, the window or the program's
// exit. Topics, below the target's prefix:
//   status            "online" once connected; "offline" as the will and on a clean exit
//   snapshot          the snapshot line                                     retained, on change
//   frequency         the frequency as in the snapshot line, no blank       retained, on change
//   meter/K/kw        meter K's kW value as in the snapshot line (K 1..5)   retained, on change
//   meter/K/state     {address, state "ok"/"stale", its counts, lastReply}   retained, on change
//   meter/K/registers {address, start, words, time} after every verified reply
//   meter/K/FIELD     a typed meter's field, a plain number (empty: none)   retained, on change
//   meter/K/values    {time of the reply, every field}                      retained, on change
// While the broker cannot be reached, only the latest retained values are kept, and published
// again on every connection; nothing piles up.

#include <QByteArray>

#include <memory>

#include "meters/linemeter.h"
#include "meters/reading.h"
#include "publish/brokerpacing.h"
#include "publish/discovery.h"
#include "publish/mqtttarget.h"

namespace meterlog {

class BrokerLink;

class MqttPublisher
{
public:
    // With `discovery`, Home Assistant's configs for the typed meters go out with the readings.
    // Each meter's topics are below PREFIX/meter/ID, ID from `labels` (one a meter of the line).
    explicit MqttPublisher(MqttTarget target, std::optional<Discovery> discovery = std::nullopt,
        BrokerPacing pacing = {}, std::vector<MeterLabel> labels = slotLabels());
    // Says "offline" when connected, and leaves, in under 2 s whatever the broker does.
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    void publishReading(const Reading &reading);
    void publishRegisters(const RegisterBlock &block);

private:
    QByteArray topic(const QString &below) const;
    // "meter/ID/" of meter `index`; empty for a slot without a meter of the line.
    QString meterTopic(int index) const;

    QString m_prefix;
    std::optional<Discovery> m_discovery;
    std::vector<MeterLabel> m_labels;
    std::shared_ptr<BrokerLink> m_link;
};

// The payloads, as published.
QByteArray meterStateJson(const MeterCounters &meter);
QByteArray registersJson(const RegisterBlock &block);

} // namespace meterlog

#pragma once

// Publishes readings to an MQTT broker through libmosquitto, its network work on a thread of its
// own: a broker that is slow, down or unreachable never holds up polling or the window. Topics,
// below the target's prefix:
//   status            "online" once connected; "offline" as the will and on a clean exit
//   snapshot          the snapshot line                                     retained, on change
//   frequency         the frequency as in the snapshot line                 retained, on change
//   meter/K/kw        meter K's kW value as in the snapshot line (K 1..5)   retained, on change
//   meter/K/state     {address, state "ok"/"stale", its counts, lastReply}   retained, on change
//   meter/K/registers {address, start, words, time} after every verified reply
// While the broker cannot be reached, only the latest retained values are kept, and published
// again on every connection; nothing piles up.

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "lastingcondition.h"
#include "mqtttarget.h"
#include "reading.h"

struct mosquitto;

namespace meterlog {

class MqttPublisher
{
public:
    explicit MqttPublisher(MqttTarget target);
    // Says "offline" when connected, and leaves.
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    void publishReading(const Reading &reading);
    void publishRegisters(const RegisterBlock &block);

private:
    void run();
    void onConnect(int result);
    void onDisconnect(int result);
    bool waitToRetry(std::chrono::seconds delay);
    void publishRetained(const QByteArray &topic, const QByteArray &payload);
    QByteArray topic(const QString &below) const;

    MqttTarget m_target;
    QString m_described;
    mosquitto *m_client = nullptr;
    std::atomic<bool> m_connected = false;
    std::mutex m_mutex; // guards what follows
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::map<QByteArray, QByteArray> m_retained; // the latest payload of each retained topic
    int m_offlineId = -1;
    bool m_offlineDelivered = false;
    LastingCondition m_unreachable; // on the network thread only
    std::thread m_network;
};

// The payloads, as published.
QByteArray meterStateJson(const MeterCounters &meter);
QByteArray registersJson(const RegisterBlock &block);

} // namespace meterlog

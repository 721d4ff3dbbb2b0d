#pragma once

// The connection to one MQTT broker, kept on a network thread of its own: attempts with growing
// pauses between them on every kind of failure, each outage said once in the log with what went
// wrong, the latest retained values published again on every connection, and a goodbye that
// never waits on the broker beyond its bound. The publisher and the network thread share it: a
// thread still held up in a name lookup when the program ends is left to finish by itself, and
// finds everything it touches still there.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "common/lastingcondition.h"
#include "publish/brokerpacing.h"
#include "publish/mqtttarget.h"

struct mosquitto;

namespace meterlog {

class BrokerTls;

class BrokerLink
{
public:
    // Starts connecting at once, `pacing` apart. "offline" is the will on `statusTopic`,
    // "online" is said there on every connection.
    static std::shared_ptr<BrokerLink> start(
        const MqttTarget &target, const QByteArray &statusTopic, BrokerPacing pacing = {});
    ~BrokerLink();
    BrokerLink(const BrokerLink &) = delete;
    BrokerLink &operator=(const BrokerLink &) = delete;

    // Keeps the latest payload of a retained topic: published now when connected, and again on
    // every connection; a payload that did not change is not sent again.
    void publishRetained(const QByteArray &topic, const QByteArray &payload);
    // Published when connected, else dropped.
    void publishOnce(const QByteArray &topic, const QByteArray &payload);
    // Says "offline" when connected and waits for the broker to take it, then ends the network
    // thread, in well under 2 s whatever the broker does.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    BrokerLink(const MqttTarget &target, const QByteArray &statusTopic, BrokerPacing pacing);

    // On the network thread.
    void run();
    std::optional<QString> attempt();
    QString failureOf(int result, int error);
    bool portSpeaksTls();
    bool sayUnreachable(const QString &what);
    bool waitToRetry(std::chrono::milliseconds pause);
    bool stopRequested();
    void leave();
    void onConnect(int result);
    void onPublish(int id);

    void sendRetained(
        const QByteArray &topic, const QByteArray &payload, int qos, int *id = nullptr);

    const MqttTarget m_target;
    const QString m_described;
    const QByteArray m_statusTopic;
    const BrokerPacing m_pacing;
    std::unique_ptr<BrokerTls> m_tls; // with mqtts://
    mosquitto *m_client = nullptr;
    std::atomic<bool> m_connected = false;

    std::mutex m_mutex; // guards what follows
    std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_ended = false; // the network thread is done with the broker
    std::map<QByteArray, QByteArray> m_retained; // the latest payload of each retained topic
    int m_offlineId = -1;
    bool m_offlineDelivered = false;

    // On the network thread only.
    LastingCondition m_unreachable;
    bool m_accepted = false; // the broker accepted this attempt's connection
    std::optional<int> m_refusal; // the code the broker refused this attempt's connection with
    std::optional<bool> m_speaksTls; // with mqtt://: whether the port answered TLS, this outage

    std::thread m_network;
};

} // namespace meterlog

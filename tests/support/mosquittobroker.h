// A real MQTT broker for a test: Debian's mosquitto, on a free loopback port, with a
// configuration of its own and no service, and a TLS port beside it when asked; and a subscriber
// to it (mosquitto_sub).
#pragma once

#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// What a broker's TLS port presents: its certificate and key, and the authority behind them.
struct BrokerTls
{
    QString authority;
    QString certificate;
    QString key;
};

class MosquittoBroker
{
public:
    // `passwords`: user and password pairs; anyone may connect without them. With `tls`, a TLS
    // port listens beside the plain one.
    explicit MosquittoBroker(
        QList<std::pair<QString, QString>> passwords = {}, std::optional<BrokerTls> tls = {});
    ~MosquittoBroker();

    // Starts it on its ports (the same ones each time) and waits until it listens.
    bool start();
    void stop();
    int port() const { return m_port; }
    int tlsPort() const { return m_tlsPort; }
    // The connections it refused for their user or password so far, as its log tells; its log
    // is read while the test's event loop runs.
    int refusedConnections();

private:
    QTemporaryDir m_dir;
    int m_port = 0;
    int m_tlsPort = 0; // 0: none
    QProcess m_process;
    QByteArray m_log;
};

// Every message below a topic filter, as mosquitto_sub prints them, retained ones included.
class MqttSubscriber
{
public:
    MqttSubscriber(int port, const QString &filter);
    ~MqttSubscriber();

    // The payloads of `topic` so far, oldest first.
    QStringList payloads(const QString &topic);
    QString latest(const QString &topic);

private:
    void collect();

    QProcess m_process;
    QByteArray m_pending;
    QMap<QString, QStringList> m_payloads;
};

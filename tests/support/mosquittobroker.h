// A real MQTT broker for a test: Debian's mosquitto, on a free loopback port, with a
// configuration of its own and no service; and a subscriber to it (mosquitto_sub).
#pragma once

#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class MosquittoBroker
{
public:
    // `passwords`: user and password pairs; anyone may connect without them.
    explicit MosquittoBroker(QList<std::pair<QString, QString>> passwords = {});
    ~MosquittoBroker();

    // Starts it on its port (the same one each time) and waits until it listens.
    bool start();
    void stop();
    int port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    int m_port = 0;
    QProcess m_process;
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

// Listeners on a free loopback port that stand where a broker should be and misbehave: one whose
// accept queue is full, so that connection attempts are dropped unanswered (a connect() waits for
// the kernel's SYN retries, about two minutes); one that takes connections and never says a
// word; one that reads what a client sends first and hangs up.
#pragma once

#include <QList>

#include <chrono>
#include <memory>

class QTcpServer;

class MisbehavingBroker
{
public:
    enum class Behaviour { DropsConnectionAttempts, NeverAnswers, HangsUp };
    explicit MisbehavingBroker(Behaviour behaviour);
    ~MisbehavingBroker();
    MisbehavingBroker(const MisbehavingBroker &) = delete;
    MisbehavingBroker &operator=(const MisbehavingBroker &) = delete;

    bool isListening() const { return m_port != 0; }
    int port() const { return m_port; }
    // HangsUp: the connections that began with an MQTT CONNECT so far (a TLS client hello, say,
    // is not one), and when each CONNECT was read. Connections are taken while the test's event
    // loop runs.
    int connectAttempts() const { return int(m_connectTimes.size()); }
    const QList<std::chrono::steady_clock::time_point> &connectTimes() const
    {
        return m_connectTimes;
    }

private:
    void listenWithBacklog(int backlog);

    int m_port = 0;
    // DropsConnectionAttempts and NeverAnswers: a listening socket that nothing accepts from,
    // and the connections that fill its queue.
    int m_listener = -1;
    QList<int> m_queueFillers;
    // HangsUp.
    std::unique_ptr<QTcpServer> m_server;
    QList<std::chrono::steady_clock::time_point> m_connectTimes;
};

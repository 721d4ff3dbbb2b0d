// A pymodbus script serving Modbus TCP (or RTU over TCP) on a loopback port the test chose.
#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// Below the range the system picks connections' own ports from: a port from that range, tried
// again and again while nothing listens there, can end up as a connection's own port, connected
// to itself, and then no server can take it.
quint16 freeLoopbackPort();

class PymodbusServer
{
public:
    // `arguments`: the script and its arguments, which make it listen on `port`.
    PymodbusServer(QStringList arguments, quint16 port);
    ~PymodbusServer();

    // Starts it and waits, up to 10 s, until it takes connections (with port 0: until it says
    // "ready").
    bool start();
    void stop();

private:
    QStringList m_arguments;
    quint16 m_port;
    QProcess m_process;
};

// The typed meters' script (pymodbus_typed_meters.py) on a loopback port of its own, with the
// values its meters hold as the script wrote them: {"1": {"type": "sdm120", FIELD: value or
// null, ...}, ...}. Its meters are of the types given, devices 1, 2, ... in order (the script's
// own five unless given).
class TypedMeterServer
{
public:
    // Modbus TCP on a loopback port, or one RTU line: a pair of pseudo-terminals joined by socat,
    // the meters on one end and url() the other.
    enum class Link { Tcp, Serial };
    explicit TypedMeterServer(
        const QString &script, const QStringList &types = {}, Link link = Link::Tcp);
    ~TypedMeterServer();
    TypedMeterServer(const TypedMeterServer &) = delete;
    TypedMeterServer &operator=(const TypedMeterServer &) = delete;

    // Starts it; false when it did not start or wrote no values.
    bool start();
    QString url() const;
    const QJsonObject &expected() const { return m_expected; }
    // The type of each meter, from device 1 on.
    QStringList types() const;

private:
    Link m_link;
    quint16 m_port;
    QTemporaryDir m_scratch;
    QProcess m_line; // socat, for a serial line
    PymodbusServer m_server;
    QJsonObject m_expected;
};

// A pymodbus script serving Modbus TCP (or RTU over TCP) on a loopback port the test chose.
#pragma once

#include <QProcess>
#include <QStringList>

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

    // Starts it and waits, up to 10 s, until it takes connections.
    bool start();
    void stop();

private:
    QStringList m_arguments;
    quint16 m_port;
    QProcess m_process;
};

#include "pymodbusserver.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

quint16 freeLoopbackPort()
{
    for (quint16 port = 20000 + quint16(QCoreApplication::applicationPid() % 10000);; ++port) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, port))
            return port;
    }
}

PymodbusServer::PymodbusServer(QStringList arguments, quint16 port)
    : m_arguments(std::move(arguments))
    , m_port(port)
{ }

PymodbusServer::~PymodbusServer()
{
    stop();
}

bool PymodbusServer::start()
{
    // Debian's python3, which has python3-pymodbus, whatever else is first on the PATH.
    m_process.start("/usr/bin/python3", m_arguments);
    if (!m_process.waitForStarted())
        return false;
    for (int attempt = 0; attempt < 200; ++attempt) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(100))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void PymodbusServer::stop()
{
    m_process.terminate();
    m_process.waitForFinished(3000);
}

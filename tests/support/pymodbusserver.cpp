#include "tests/support/pymodbusserver.h"
#include "tests/support/outsidetools.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
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
    startEndingWithTheTest(m_process, "/usr/bin/python3", m_arguments);
    if (!m_process.waitForStarted())
        return false;
    if (m_port == 0) {
        QByteArray said;
        for (int attempt = 0; attempt < 200 && !said.contains("ready"); ++attempt) {
            m_process.waitForReadyRead(50);
            said += m_process.readAllStandardOutput();
        }
        if (!said.contains("ready"))
            qWarning("the server did not start: %s", m_process.readAllStandardError().constData());
        return said.contains("ready");
    }
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

TypedMeterServer::TypedMeterServer(const QString &script, const QStringList &types, Link link)
    : m_link(link)
    , m_port(link == Link::Tcp ? freeLoopbackPort() : 0)
    , m_server(QStringList {script}
              + (link == Link::Tcp ? QStringList {QString::number(m_port)}
                                   : QStringList {"--serial", m_scratch.filePath("meters")})
              + QStringList {m_scratch.filePath("expected.json")}
              + (types.isEmpty() ? QStringList() : QStringList {types.join(u',')}),
          m_port)
{ }

TypedMeterServer::~TypedMeterServer()
{
    m_server.stop();
    m_line.terminate();
    m_line.waitForFinished(3000);
}

bool TypedMeterServer::start()
{
    if (m_link == Link::Serial) {
        startEndingWithTheTest(m_line, "socat",
            {QStringLiteral("pty,raw,echo=0,link=%1").arg(m_scratch.filePath("line")),
                QStringLiteral("pty,raw,echo=0,link=%1").arg(m_scratch.filePath("meters"))});
        for (int attempt = 0; attempt < 200
             && !(QFile::exists(m_scratch.filePath("meters"))
                 && QFile::exists(m_scratch.filePath("line")));
             ++attempt)
            QTest::qWait(50);
    }
    if (!m_server.start())
        return false;
    QFile file(m_scratch.filePath("expected.json"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    m_expected = QJsonDocument::fromJson(file.readAll()).object();
    return !m_expected.isEmpty();
}

QString TypedMeterServer::url() const
{
    if (m_link == Link::Serial)
        return m_scratch.filePath("line");
    return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port);
}

QStringList TypedMeterServer::types() const
{
    QStringList types;
    for (int meter = 1; m_expected.contains(QString::number(meter)); ++meter)
        types << m_expected[QString::number(meter)]["type"].toString();
    return types;
}

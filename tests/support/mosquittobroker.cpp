#include "tests/support/mosquittobroker.h"
#include "tests/support/outsidetools.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace {

int freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool listens(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(100);
}

} // namespace

MosquittoBroker::MosquittoBroker(
    QList<std::pair<QString, QString>> passwords, std::optional<BrokerTls> tls)
    : m_port(freeLoopbackPort())
{
    QStringList config {
        QStringLiteral("listener %1 127.0.0.1").arg(m_port), QStringLiteral("persistence false")};
    // As root, mosquitto would become the user "mosquitto" and lose its files in the test's
    // private folder.
    if (::geteuid() == 0)
        config << QStringLiteral("user root");
    if (passwords.isEmpty()) {
        config << QStringLiteral("allow_anonymous true");
    } else {
        const QString file = m_dir.filePath("passwords");
        for (const auto &[user, password] : passwords) {
            const QStringList create = QFile::exists(file) ? QStringList() : QStringList {"-c"};
            QProcess::execute(
                "mosquitto_passwd", create + QStringList {"-b", file, user, password});
        }
        config << QStringLiteral("allow_anonymous false")
               << QStringLiteral("password_file %1").arg(file);
    }
    // The listener's TLS settings follow its own line.
    if (tls) {
        m_tlsPort = freeLoopbackPort();
        config << QStringLiteral("listener %1 127.0.0.1").arg(m_tlsPort)
               << "cafile " + tls->authority << "certfile " + tls->certificate
               << "keyfile " + tls->key;
    }
    QFile configFile(m_dir.filePath("mosquitto.conf"));
    if (configFile.open(QIODevice::WriteOnly))
        configFile.write(config.join(u'\n').toUtf8() + '\n');
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    startEndingWithTheTest(m_process, "mosquitto", {"-c", m_dir.filePath("mosquitto.conf")});
    if (!m_process.waitForStarted())
        return false;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (listens(m_port) && (m_tlsPort == 0 || listens(m_tlsPort)))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void MosquittoBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    m_process.waitForFinished(3000);
}

int MosquittoBroker::refusedConnections()
{
    m_log += m_process.readAllStandardError();
    return int(m_log.count("disconnected, not authorised."));
}

MqttSubscriber::MqttSubscriber(int port, const QString &filter)
{
    startEndingWithTheTest(
        m_process, "mosquitto_sub", {"-p", QString::number(port), "-t", filter, "-v"});
    m_process.waitForStarted();
}

MqttSubscriber::~MqttSubscriber()
{
    m_process.terminate();
    m_process.waitForFinished(3000);
}

void MqttSubscriber::collect()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
        const auto blank = line.indexOf(u' ');
        m_payloads[line.left(blank)] << (blank < 0 ? QString() : line.mid(blank + 1));
    }
}

QStringList MqttSubscriber::payloads(const QString &topic)
{
    collect();
    return m_payloads.value(topic);
}

QString MqttSubscriber::latest(const QString &topic)
{
    const auto all = payloads(topic);
    return all.isEmpty() ? QString() : all.constLast();
}

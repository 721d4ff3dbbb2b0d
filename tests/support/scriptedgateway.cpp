#include "tests/support/scriptedgateway.h"

#include <QTcpSocket>

#include "tests/support/scriptedmeter.h"

namespace {
constexpr int headerLength = 7;
}

ScriptedGateway::ScriptedGateway(Script script)
    : m_script(std::move(script))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (auto *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString ScriptedGateway::url() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port());
}

void ScriptedGateway::onReadable(QTcpSocket *socket)
{
    auto pending = socket->property("pending").toByteArray() + socket->readAll();
    while (pending.size() >= headerLength) {
        const int length = quint8(pending[4]) << 8 | quint8(pending[5]);
        if (pending.size() < 6 + length)
            break;
        const auto request = pending.left(6 + length);
        pending.remove(0, 6 + length);
        m_requests.append(request);
        socket->write(m_script(request));
    }
    socket->setProperty("pending", pending);
}

quint16 transactionOf(const QByteArray &request)
{
    return quint16(quint8(request[0]) << 8 | quint8(request[1]));
}

quint8 unitOf(const QByteArray &request)
{
    return quint8(request[6]);
}

QByteArray mbapFrame(quint16 transaction, quint8 unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.append(char(transaction >> 8)).append(char(transaction & 0xFF));
    frame.append(char(0)).append(char(0));
    const int length = int(pdu.size()) + 1;
    frame.append(char(length >> 8)).append(char(length & 0xFF));
    frame.append(char(unit));
    return frame + pdu;
}

QByteArray deviceCodedMbapReply(const QByteArray &request)
{
    const int count = quint8(request[10]) << 8 | quint8(request[11]);
    QByteArray pdu;
    pdu.append(char(0x03)).append(char(2 * count));
    for (const quint16 word : deviceCodedWords(unitOf(request), count))
        pdu.append(char(word >> 8)).append(char(word & 0xFF));
    return mbapFrame(transactionOf(request), unitOf(request), pdu);
}

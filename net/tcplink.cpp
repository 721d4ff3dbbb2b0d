#include "net/tcplink.h"

#include <QNetworkProxy>

namespace meterlog {

namespace {

// The socket's reason in the words of the log; Qt's own text where there is nothing better.
QString reasonOf(QAbstractSocket::SocketError error, const QString &qtText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the gateway closed the connection");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("network error (%1)").arg(qtText);
    default:
        return qtText;
    }
}

} // namespace

TcpLink::TcpLink(QObject *parent)
    : Link(parent)
{
    // A gateway on the plant network is reached directly, whatever proxy the desktop names.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_connectLimit.setSingleShot(true);
    m_connectLimit.setInterval(defaultConnectLimit);
    connect(&m_connectLimit, &QTimer::timeout, this, [this] {
        failOpen(QStringLiteral("no connection within %1 ms")
                     .arg(m_connectLimit.intervalAsDuration().count()));
    });
    connect(&m_socket, &QTcpSocket::connected, this, &TcpLink::onConnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpLink::onError);
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        m_heardSinceSent = true;
        m_silentRequests = 0;
        emit bytesArrived();
    });
}

bool TcpLink::setAddress(const NetworkAddress &address)
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        return false;
    m_address = address;
    return true;
}

void TcpLink::setConnectLimit(std::chrono::milliseconds limit)
{
    m_connectLimit.setInterval(std::max<std::chrono::milliseconds>(limit, defaultConnectLimit));
}

bool TcpLink::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

Link::Opening TcpLink::open()
{
    switch (m_socket.state()) {
    case QAbstractSocket::ConnectedState:
        return Opening::Open;
    case QAbstractSocket::UnconnectedState:
        break;
    default:
        return Opening::Pending;
    }
    m_socket.connectToHost(m_address.host, m_address.port);
    // The address may have been refused at once.
    if (m_socket.state() == QAbstractSocket::UnconnectedState) {
        m_openFailure = QStringLiteral("cannot connect to %1: %2")
                            .arg(name(), reasonOf(m_socket.error(), m_socket.errorString()));
        return Opening::Failed;
    }
    m_connectLimit.start();
    return Opening::Pending;
}

void TcpLink::onConnected()
{
    // A connection to a loopback port nobody listens on can come out connected to itself, when
    // the system gives it that very port as its own: it would read its own requests as replies.
    if (m_socket.localPort() == m_socket.peerPort()
        && m_socket.localAddress() == m_socket.peerAddress()) {
        failOpen(QStringLiteral("connected to itself: nothing listens there"));
        return;
    }
    m_connectLimit.stop();
    // Requests are small and each waits for its reply: they go out at once.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_openFailure.clear();
    m_heardSinceSent = true;
    m_silentRequests = 0;
    emit opened();
}

void TcpLink::onError(QAbstractSocket::SocketError error)
{
    const QString reason = reasonOf(error, m_socket.errorString());
    if (m_connectLimit.isActive())
        failOpen(reason);
    else if (isOpen() || m_socket.state() == QAbstractSocket::ClosingState)
        loseConnection(reason);
}

void TcpLink::failOpen(const QString &reason)
{
    m_connectLimit.stop();
    m_socket.abort();
    m_openFailure = QStringLiteral("cannot connect to %1: %2").arg(name(), reason);
    emit openFailed();
}

void TcpLink::loseConnection(const QString &reason)
{
    m_socket.abort();
    emit closed();
    emit lost(reason);
}

void TcpLink::close()
{
    const bool wasOpen = isOpen();
    m_connectLimit.stop();
    m_socket.abort();
    if (wasOpen)
        emit closed();
}

void TcpLink::discardInput()
{
    if (isOpen())
        m_socket.readAll();
}

bool TcpLink::send(const QByteArray &frame)
{
    if (!isOpen())
        return false;
    if (!m_heardSinceSent && ++m_silentRequests >= silentRequestsBeforeLost) {
        loseConnection(QStringLiteral("no answer to %1 requests in a row").arg(m_silentRequests));
        return false;
    }
    m_heardSinceSent = false;
    if (m_socket.write(frame) != frame.size())
        return false;
    // Out now, not when the event loop next runs.
    m_socket.flush();
    return true;
}

QByteArray TcpLink::peekInput()
{
    return isOpen() ? m_socket.peek(m_socket.bytesAvailable()) : QByteArray();
}

std::optional<QByteArray> TcpLink::takeInput()
{
    if (!isOpen())
        return std::nullopt;
    return m_socket.readAll();
}

} // namespace meterlog

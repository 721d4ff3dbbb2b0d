#include "tests/support/misbehavingbroker.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// With a backlog of 0 the kernel queues one connection; a few more make sure.
constexpr int queueFillers = 3;
// The first byte of an MQTT CONNECT: packet type 1, no flags.
constexpr char connectPacket = 0x10;

sockaddr_in loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

MisbehavingBroker::MisbehavingBroker(Behaviour behaviour)
{
    switch (behaviour) {
    case Behaviour::DropsConnectionAttempts:
        listenWithBacklog(0);
        for (int i = 0; i < queueFillers && isListening(); ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            const auto address = loopback(m_port);
            ::connect(filler, reinterpret_cast<const sockaddr *>(&address), sizeof address);
            m_queueFillers << filler;
        }
        return;
    case Behaviour::NeverAnswers:
        // The kernel completes connections into the queue; no one ever reads them.
        listenWithBacklog(16);
        return;
    case Behaviour::HangsUp:
        m_server = std::make_unique<QTcpServer>();
        QObject::connect(m_server.get(), &QTcpServer::newConnection, m_server.get(), [this] {
            while (auto *client = m_server->nextPendingConnection()) {
                QObject::connect(client, &QTcpSocket::readyRead, client, [this, client] {
                    if (client->read(1) == QByteArray(1, connectPacket))
                        m_connectTimes << std::chrono::steady_clock::now();
                    client->abort();
                    client->deleteLater();
                });
            }
        });
        if (m_server->listen(QHostAddress::LocalHost, 0))
            m_port = m_server->serverPort();
        return;
    }
}

MisbehavingBroker::~MisbehavingBroker()
{
    for (const int filler : m_queueFillers)
        ::close(filler);
    if (m_listener >= 0)
        ::close(m_listener);
}

void MisbehavingBroker::listenWithBacklog(int backlog)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    auto address = loopback(0);
    socklen_t size = sizeof address;
    if (::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, backlog) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return;
    m_port = ntohs(address.sin_port);
}

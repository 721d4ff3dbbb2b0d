#pragma once

// A TCP connection to a Modbus gateway, or to a meter that speaks Modbus TCP itself, as a link for
// the scan. Connecting never blocks: open() starts it, and opened() or openFailed() end it within
// the connection limit. A gateway that refuses, is unreachable, resets the connection or goes
// silent for every request of a whole scan is a lost link; a single meter behind it that does not
// answer only costs its own reply limit.

#include <QTcpSocket>
#include <QTimer>

#include <chrono>

#include "net/networkaddress.h"
#include "serial/link.h"

namespace meterlog {

class TcpLink : public Link
{
    Q_OBJECT

public:
    // A connection not made within this long (or the reply limit, when that is longer) has failed.
    static constexpr std::chrono::seconds defaultConnectLimit {2};
    // Requests in a row that got no byte back at all before the connection counts as gone
    // silent: as many as a scan of every slot.
    static constexpr int silentRequestsBeforeLost = 5;

    explicit TcpLink(QObject *parent = nullptr);

    // Chooses where the next open connects; refused while open or connecting.
    bool setAddress(const NetworkAddress &address);
    const NetworkAddress &address() const { return m_address; }
    void setConnectLimit(std::chrono::milliseconds limit);

    QString name() const override { return m_address.url(); }
    QString settingsText() const override { return {}; }
    bool isOpen() const override;
    Opening open() override;
    void close() override;
    QString openFailure() const override { return m_openFailure; }
    void discardInput() override;
    bool send(const QByteArray &frame) override;
    QByteArray peekInput() override;
    std::optional<QByteArray> takeInput() override;
    // A connection hands its bytes on in whole segments: nothing to hold back.
    void expectInput(int) override { }
    void watchEveryArrival() override { }

private:
    void onConnected();
    void onError(QAbstractSocket::SocketError error);
    void failOpen(const QString &reason);
    void loseConnection(const QString &reason);

    QTcpSocket m_socket;
    QTimer m_connectLimit;
    NetworkAddress m_address;
    QString m_openFailure;
    bool m_heardSinceSent = true;
    int m_silentRequests = 0;
};

} // namespace meterlog

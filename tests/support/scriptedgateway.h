#pragma once

// A Modbus TCP gateway played by a script, on a free loopback port: every MBAP frame that arrives
// is recorded and handed to the script, whose answer goes back on the same connection (nothing:
// no answer). It runs in the test's event loop, so it answers while the program under test waits
// in its own nested loop. Frames are taken apart and made up here byte by byte, apart from the
// program's own MBAP code.

#include <QByteArray>
#include <QList>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

class ScriptedGateway : public QObject
{
    Q_OBJECT

public:
    using Script = std::function<QByteArray(const QByteArray &request)>;

    explicit ScriptedGateway(Script script);

    quint16 port() const { return m_server.serverPort(); }
    // tcp://127.0.0.1:PORT
    QString url() const;
    const QList<QByteArray> &requests() const { return m_requests; }
    int connections() const { return m_connections; }

private:
    void onReadable(QTcpSocket *socket);

    Script m_script;
    QTcpServer m_server;
    QList<QByteArray> m_requests;
    int m_connections = 0;
};

// The request's transaction id and unit id.
quint16 transactionOf(const QByteArray &request);
quint8 unitOf(const QByteArray &request);
// A reply frame: the header for `pdu` (function code onwards) with the ids given.
QByteArray mbapFrame(quint16 transaction, quint8 unit, const QByteArray &pdu);
// What a truthful meter behind the gateway answers: its device-coded words.
QByteArray deviceCodedMbapReply(const QByteArray &request);

#pragma once

// Devices on a pseudo-terminal played by a script: every 8-byte request that arrives is recorded
// and handed to the script, whose answer goes back on the line. It runs in the test's event loop,
// so it answers while the program under test waits in its own nested loop.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>

#include <functional>

class PseudoTerminal;

class ScriptedMeter : public QObject
{
    Q_OBJECT

public:
    using Script = std::function<QByteArray(const QByteArray &request)>;

    ScriptedMeter(PseudoTerminal &line, Script script);

    const QList<QByteArray> &requests() const { return m_requests; }
    // Everything the program has sent, requests and any stray bytes alike.
    const QByteArray &received() const { return m_received; }
    // Forgets what has been recorded, so a long run does not keep it all.
    void clearHistory();
    // Sends a marker from the program's end of the line and reads until it comes through, so
    // that everything the program sent before the call has been read, answered and recorded (the
    // marker itself is not). False when it does not come within a few seconds.
    bool readUpToLineMarker();

signals:
    void requestArrived(const QByteArray &request);

private:
    void onReadable();
    void take(const QByteArray &bytes);

    PseudoTerminal &m_line;
    Script m_script;
    QSocketNotifier m_notifier;
    QByteArray m_unsorted; // read, not yet told apart from a marker
    int m_markersSent = 0;
    int m_markersRead = 0;
    QByteArray m_pending;
    QByteArray m_received;
    QList<QByteArray> m_requests;
};

// A device's normal answer to a function-3 request: address, 3, byte count, words, CRC. The CRC
// is computed bit by bit here, apart from the program's table-driven one.
// A reply to function 3, or to `function`.
QByteArray normalReply(quint8 device, const QList<quint16> &words, quint8 function = 3);
QByteArray exceptionReply(quint8 device, quint8 code);

// Words that tell where they came from: device d's register r holds d * 1000 + r, so a word in
// the wrong column or row gives itself away.
QList<quint16> deviceCodedWords(int device, int count);
// What a truthful device answers to a function-3 request: its device-coded words.
QByteArray deviceCodedReply(const QByteArray &request);
QByteArray withCrc(QByteArray frame);

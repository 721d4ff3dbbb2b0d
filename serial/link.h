#pragma once

// A link carries the bytes of requests and replies between meterlog and its meters: the serial
// port, or a TCP connection to a gateway. The scan cycle and its waits see only this; what differs
// between links (opening, how bytes are handed over) is each link's own. The silence a request
// needs before it is the serial line's alone: a gateway keeps it on its own serial side.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

namespace meterlog {

// The timing of a serial line that a link puts frames on itself.
class SerialTiming
{
public:
    // The silence the line needs before a request.
    virtual std::chrono::microseconds frameGap() const = 0;
    // How long nothing has been received or sent.
    virtual std::chrono::steady_clock::duration quietFor() const = 0;
    // Returns when bytes arrive or after `span` (a fraction of a frame gap), without running the
    // event loop.
    virtual void waitBrieflyForInput(std::chrono::microseconds span) = 0;

protected:
    ~SerialTiming() = default;
};

class Link : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // What the link leads to, for the log: a device path, or a gateway's URL.
    virtual QString name() const = 0;
    // The settings it opens with, for the log ("38400,n,8,1"); empty where there are none.
    virtual QString settingsText() const = 0;
    virtual bool isOpen() const = 0;

    // How an open ended: at once, or later with opened() or openFailed().
    enum class Opening {
        Open,
        Pending,
        Failed,
    };
    virtual Opening open() = 0;
    virtual void close() = 0;
    // Why the last open failed, in words for the log; empty until one fails.
    virtual QString openFailure() const = 0;

    // The serial line's timing when the link is the line itself; none through a gateway.
    virtual SerialTiming *serialTiming() { return nullptr; }

    // Drops every byte received and not yet taken.
    virtual void discardInput() = 0;
    // Hands the request over and sees it taken; fails when the link cannot take it.
    virtual bool send(const QByteArray &frame) = 0;
    // The bytes received and not yet taken, left in place.
    virtual QByteArray peekInput() = 0;
    // Takes every byte received; fails when the link is not open.
    virtual std::optional<QByteArray> takeInput() = 0;
    // The reader needs `bytes` more before it can act: a link may wake it only once they can be
    // there, so bytesArrived() may come later than the first of them.
    virtual void expectInput(int bytes) = 0;
    // Every arrival wakes the reader again (the default).
    virtual void watchEveryArrival() = 0;

signals:
    // New bytes are waiting to be taken.
    void bytesArrived();
    // A pending open has succeeded.
    void opened();
    // A pending open has failed; openFailure() says why.
    void openFailed();
    // The link has closed: by the program or because it failed.
    void closed();
    // The link failed under the program and was closed; `reason` says how.
    void lost(const QString &reason);
};

} // namespace meterlog

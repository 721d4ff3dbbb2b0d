#pragma once

// Keeps the serial port open while it is wanted open: from the moment start-up or the operator
// asks for it until the operator disconnects. An open that fails, and a port that fails under the
// program, are tried again every 2 s from the event loop. The log says when the port cannot be
// had and when it is back, once each.

#include <QObject>
#include <QTimer>

#include <chrono>

#include "lastingcondition.h"

namespace meterlog {

class SerialComm;

class PortKeeper : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds defaultRetryInterval {2};

    explicit PortKeeper(SerialComm &port, QObject *parent = nullptr);

    // Opens the port on its current choice. From now on it is wanted open: when this open fails,
    // it is tried again until it succeeds or release() is called.
    bool open();
    // The port is no longer wanted: closes it when open and stops trying.
    void release();
    // The last open that failed: when, which device and why; empty until one fails.
    QString lastOpenError() const { return m_lastOpenError; }
    void setRetryInterval(std::chrono::milliseconds interval);

signals:
    // A retry opened the port.
    void reopened();
    // An open failed; lastOpenError() says why.
    void openFailed();

private:
    bool tryOpen();
    void retry();
    void onLost(const QString &reason);
    QString retryNote() const;

    SerialComm &m_port;
    // Runs only while the port is wanted but closed. A reply wait needs the port open, so a
    // retry never runs inside one.
    QTimer m_retry;
    bool m_wanted = false;
    LastingCondition m_unavailable;
    QString m_lastOpenError;
};

enum class OpenRefusal {
    HeldElsewhere, // another program has the device open
    NoPermission, // the user may not open it
    Other,
};

// The line that says why `device` could not be opened, with a hint where the system's reason
// alone leaves the operator guessing.
QString openFailureText(const QString &device, OpenRefusal refusal, const QString &reason);

} // namespace meterlog

#pragma once

// Keeps the link open while it is wanted open: from the moment start-up or the operator asks for
// it until the operator disconnects. An open that fails, and a link that fails under the program,
// are tried again every 2 s from the event loop. The log says when the link cannot be had and
// when it is back, once each.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>

#include "common/lastingcondition.h"
#include "serial/link.h"

namespace meterlog {

class PortKeeper : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds defaultRetryInterval {2};

    explicit PortKeeper(QObject *parent = nullptr);

    // Opens `link`, which stays the one kept from now on: when this open fails, it is tried again
    // until it succeeds or release() is called. A link that connects later says so with
    // reopened().
    void open(Link &link);
    // The link is no longer wanted: closes it when open and stops trying.
    void release();
    // The last open that failed: when, which device and why; empty until one fails.
    QString lastOpenError() const { return m_lastOpenError; }
    void setRetryInterval(std::chrono::milliseconds interval);

signals:
    // The link opened after it had been asked for: by a retry, or a connection made later.
    void reopened();
    // An open failed; lastOpenError() says why.
    void openFailed();

private:
    Link::Opening tryOpen();
    void sayOpen();
    void onOpened();
    void onOpenFailed();
    void onLost(const QString &reason);
    QString retryNote() const;

    QPointer<Link> m_link;
    // Runs only while the link is wanted but closed. A reply wait needs the link open, so a
    // retry never runs inside one.
    QTimer m_retry;
    bool m_wanted = false;
    LastingCondition m_unavailable;
    QString m_lastOpenError;
};

} // namespace meterlog

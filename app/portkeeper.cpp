#include "app/portkeeper.h"

#include <QTime>

#include "common/logcategories.h"
#include "serial/link.h"

namespace meterlog {

PortKeeper::PortKeeper(QObject *parent)
    : QObject(parent)
    , m_unavailable(lcPort)
{
    m_retry.setInterval(defaultRetryInterval);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        m_retry.stop();
        if (m_wanted && m_link && !m_link->isOpen() && tryOpen() == Link::Opening::Open)
            emit reopened();
    });
}

void PortKeeper::setRetryInterval(std::chrono::milliseconds interval)
{
    m_retry.setInterval(interval);
}

void PortKeeper::open(Link &link)
{
    if (m_link != &link) {
        if (m_link)
            m_link->disconnect(this);
        m_link = &link;
        connect(&link, &Link::opened, this, &PortKeeper::onOpened);
        connect(&link, &Link::openFailed, this, &PortKeeper::onOpenFailed);
        connect(&link, &Link::lost, this, &PortKeeper::onLost);
    }
    m_wanted = true;
    tryOpen();
}

void PortKeeper::sayOpen()
{
    if (m_unavailable.isOn()) {
        m_unavailable.cleared(m_link->name() + QStringLiteral(" open again"));
        return;
    }
    const QString settings = m_link->settingsText();
    qCInfo(lcPort).noquote() << m_link->name() + QStringLiteral(" open")
            + (settings.isEmpty() ? QString() : QStringLiteral(" at ") + settings);
}

void PortKeeper::release()
{
    m_wanted = false;
    m_retry.stop();
    if (!m_link)
        return;
    m_link->close();
    m_unavailable.cleared(QStringLiteral("no longer trying ") + m_link->name());
}

Link::Opening PortKeeper::tryOpen()
{
    const auto opening = m_link->open();
    switch (opening) {
    case Link::Opening::Open:
        sayOpen();
        break;
    case Link::Opening::Pending:
        // The link ends the attempt itself, with opened() or openFailed().
        break;
    case Link::Opening::Failed:
        onOpenFailed();
        break;
    }
    return opening;
}

void PortKeeper::onOpened()
{
    sayOpen();
    emit reopened();
}

void PortKeeper::onOpenFailed()
{
    const QString failure = m_link->openFailure();
    m_lastOpenError = QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + failure;
    m_unavailable.persists(failure + retryNote());
    if (m_wanted)
        m_retry.start();
    emit openFailed();
}

void PortKeeper::onLost(const QString &reason)
{
    m_unavailable.persists(m_link->name() + QStringLiteral(" lost: ") + reason + retryNote());
    if (m_wanted)
        m_retry.start();
}

QString PortKeeper::retryNote() const
{
    if (!m_wanted)
        return {};
    return QStringLiteral("; trying again every %1 s")
        .arg(std::chrono::duration<double>(m_retry.intervalAsDuration()).count());
}

} // namespace meterlog

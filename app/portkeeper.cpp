#include "portkeeper.h"

#include <QSerialPort>
#include <QTime>

#include "logcategories.h"
#include "serialcomm.h"

namespace meterlog {

PortKeeper::PortKeeper(SerialComm &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_unavailable(lcPort)
{
    m_retry.setInterval(defaultRetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &PortKeeper::retry);
    connect(&m_port, &SerialComm::lost, this, &PortKeeper::onLost);
}

void PortKeeper::setRetryInterval(std::chrono::milliseconds interval)
{
    m_retry.setInterval(interval);
}

bool PortKeeper::open()
{
    m_wanted = true;
    if (tryOpen())
        return true;
    m_retry.start();
    return false;
}

void PortKeeper::release()
{
    m_wanted = false;
    m_retry.stop();
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    m_unavailable.cleared(QStringLiteral("no longer trying ") + m_port.deviceName());
}

bool PortKeeper::tryOpen()
{
    const QString device = m_port.deviceName();
    if (m_port.setPortOpen(true)) {
        m_retry.stop();
        if (m_unavailable.isOn())
            m_unavailable.cleared(device + QStringLiteral(" open again"));
        else
            qCInfo(lcPort).noquote() << device << "open at" << settingsText(m_port.settings());
        return true;
    }
    const auto refusal = m_port.openFoundItHeld()            ? OpenRefusal::HeldElsewhere
        : m_port.openError() == QSerialPort::PermissionError ? OpenRefusal::NoPermission
                                                             : OpenRefusal::Other;
    const QString failure = openFailureText(device, refusal, m_port.openErrorText());
    m_lastOpenError = QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + failure;
    m_unavailable.persists(failure + retryNote());
    emit openFailed();
    return false;
}

void PortKeeper::retry()
{
    if (!m_wanted || m_port.portOpen()) {
        m_retry.stop();
        return;
    }
    if (tryOpen())
        emit reopened();
}

void PortKeeper::onLost(const QString &reason)
{
    m_unavailable.persists(
        m_port.openedDevice() + QStringLiteral(" lost: ") + reason + retryNote());
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

QString openFailureText(const QString &device, OpenRefusal refusal, const QString &reason)
{
    switch (refusal) {
    case OpenRefusal::HeldElsewhere:
        return QStringLiteral("cannot open %1: held by another program").arg(device);
    case OpenRefusal::NoPermission:
        return QStringLiteral("cannot open %1: %2 (the user that runs meterlog must be in the "
                              "dialout group: sudo usermod -aG dialout USER, then log in again)")
            .arg(device, reason);
    case OpenRefusal::Other:
        break;
    }
    return QStringLiteral("cannot open %1: %2").arg(device, reason);
}

} // namespace meterlog

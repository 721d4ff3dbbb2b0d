#include "tests/support/metersimprocess.h"
#include "tests/support/outsidetools.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <chrono>
#include <csignal>

using namespace std::chrono_literals;

namespace {
// Generous: another build may share the two cores while the tests run.
constexpr auto startTimeout = 10s;
constexpr auto exitTimeout = 5s;
} // namespace

QStringList simOptions(const char *commandLine)
{
    return QString::fromLatin1(commandLine).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

MeterSimProcess::MeterSimProcess(QStringList options, const QString &linkName)
    : m_linkPath(m_folder.filePath(linkName))
    , m_arguments(std::move(options))
{
    if (m_arguments.contains(QStringLiteral("--tcp"))
        || m_arguments.contains(QStringLiteral("--rtu-tcp")))
        m_linkPath.clear();
    else if (!m_arguments.contains(QStringLiteral("--link")))
        m_arguments << QStringLiteral("--link") << m_linkPath;
    else
        m_linkPath = m_arguments.at(m_arguments.indexOf(QStringLiteral("--link")) + 1);
}

MeterSimProcess::~MeterSimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool MeterSimProcess::start()
{
    startEndingWithTheTest(m_process, QStringLiteral(METER_SIM_PATH), m_arguments);
    return m_process.waitForStarted() && waitForReadyLines(1);
}

void MeterSimProcess::collectReadyLines()
{
    m_pendingOutput += m_process.readAllStandardOutput();
    qsizetype end = 0;
    while ((end = m_pendingOutput.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_pendingOutput.left(end));
        m_pendingOutput.remove(0, end + 1);
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() == 3 && fields.at(0) == QLatin1String("ready")
            && fields.at(1) == m_linkPath)
            m_slaveDevices << fields.at(2);
        if (fields.size() == 2 && fields.at(0) == QLatin1String("ready") && m_linkPath.isEmpty())
            m_gatewayAddresses << fields.at(1);
    }
}

bool MeterSimProcess::waitForReadyLines(int count)
{
    QDeadlineTimer deadline(startTimeout);
    collectReadyLines();
    const auto readyLines = [this] { return m_slaveDevices.size() + m_gatewayAddresses.size(); };
    while (
        readyLines() < count && m_process.state() == QProcess::Running && !deadline.hasExpired()) {
        m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        collectReadyLines();
    }
    return readyLines() >= count;
}

QString MeterSimProcess::endpoint() const
{
    return m_linkPath.isEmpty() ? m_gatewayAddresses.value(m_gatewayAddresses.size() - 1)
                                : m_linkPath;
}

bool MeterSimProcess::stop(int signalNumber)
{
    if (m_process.state() != QProcess::Running)
        return false;
    ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
    return waitForExit();
}

bool MeterSimProcess::waitForExit()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    return m_process.waitForFinished(
        static_cast<int>(std::chrono::milliseconds(exitTimeout).count()));
}

bool MeterSimProcess::hasLink() const
{
    return QFileInfo(m_linkPath).isSymLink();
}

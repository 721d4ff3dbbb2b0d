#include "tests/sim/mbpoll.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace {
constexpr int mbpollRunLimitMs = 15'000;
constexpr int modbusTcpPort = 502;

// How mbpoll reaches the endpoint; the host or device comes last on its command line.
QStringList linkArguments(const QString &endpoint)
{
    const QUrl url(endpoint);
    if (url.scheme() == QLatin1String("tcp"))
        return {QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"),
            QString::number(url.port(modbusTcpPort))};
    return {QStringLiteral("-m"), QStringLiteral("rtu"), QStringLiteral("-b"),
        QStringLiteral("38400"), QStringLiteral("-P"), QStringLiteral("none")};
}

QString hostOrDevice(const QString &endpoint)
{
    const QUrl url(endpoint);
    return url.scheme() == QLatin1String("tcp") ? url.host() : endpoint;
}

} // namespace

QString mbpollPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
}

MasterReading mbpollRead(const QString &endpoint, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table)
{
    const QString type
        = table == RegisterTable::Holding ? QStringLiteral("4") : QStringLiteral("3");
    const QStringList arguments = linkArguments(endpoint)
        + QStringList {
            QStringLiteral("-a"),
            QString::number(address),
            QStringLiteral("-r"),
            QString::number(reference),
            QStringLiteral("-c"),
            QString::number(count),
            QStringLiteral("-t"),
            type,
            QStringLiteral("-1"),
            QStringLiteral("-o"),
            QString::number(timeoutSeconds),
            hostOrDevice(endpoint),
        };
    QProcess process;
    process.start(mbpollPath(), arguments);
    MasterReading reading;
    reading.ran
        = process.waitForFinished(mbpollRunLimitMs) && process.exitStatus() == QProcess::NormalExit;
    reading.exitCode = process.exitCode();

    // A register line reads "[4012]: \t2301", with "(-2032)" added for values above 32767.
    static const QRegularExpression registerLine(
        QStringLiteral(R"(^\[(\d+)\]:\s+(\d+))"), QRegularExpression::MultilineOption);
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (auto match = registerLine.globalMatch(output); match.hasNext();) {
        const auto line = match.next();
        reading.references << line.captured(1).toInt();
        reading.values << line.captured(2).toInt();
    }
    static const QRegularExpression failureLine(
        QStringLiteral("failed: (.*)$"), QRegularExpression::MultilineOption);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    if (const auto match = failureLine.match(errors); match.hasMatch())
        reading.failure = match.captured(1).trimmed();
    return reading;
}

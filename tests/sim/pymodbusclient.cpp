#include "tests/sim/pymodbusclient.h"

#include <QProcess>
#include <QUrl>

namespace {
// Python's start-up and pymodbus's imports come on top of the reading.
constexpr int pythonRunLimitMs = 30'000;
} // namespace

MasterReading pymodbusRead(const QString &endpoint, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table)
{
    const QUrl url(endpoint);
    const QStringList arguments {
        QStringLiteral(PYMODBUS_CLIENT_SCRIPT),
        url.host(),
        QString::number(url.port()),
        QString::number(address),
        QString::number(reference - 1),
        QString::number(count),
        QString::number(timeoutSeconds),
        table == RegisterTable::Holding ? QStringLiteral("holding") : QStringLiteral("input"),
    };
    QProcess process;
    // Debian's python3, which has python3-pymodbus, whatever else is first on the PATH.
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
    MasterReading reading;
    reading.ran
        = process.waitForFinished(pythonRunLimitMs) && process.exitStatus() == QProcess::NormalExit;
    reading.exitCode = process.exitCode();
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    const QLatin1String failurePrefix("failure ");
    if (output.startsWith(failurePrefix)) {
        reading.failure = output.mid(failurePrefix.size());
        return reading;
    }
    const QStringList words = output.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < words.size(); ++i) {
        reading.references << reference + static_cast<int>(i) - 1;
        reading.values << words.at(i).toInt();
    }
    return reading;
}

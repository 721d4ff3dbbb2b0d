#include "app/busscanreport.h"

#include <QSaveFile>
#include <QStringList>

namespace meterlog {

namespace {

// A TOML basic string.
QString quoted(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + text + u'"';
}

} // namespace

QString foundModelText(const FoundDevice &device)
{
    if (device.types.isEmpty())
        return QStringLiteral("present, model unknown");
    if (device.types.size() == 1)
        return device.types.first();
    return device.types.join(QStringLiteral(" or ")) + QStringLiteral(": several types match");
}

QString foundEvidenceText(const FoundDevice &device)
{
    return device.evidence.join(QStringLiteral("; "));
}

QString foundDeviceLine(const FoundDevice &device)
{
    return QStringLiteral("address %1: %2 (%3)")
        .arg(device.address)
        .arg(foundModelText(device), foundEvidenceText(device));
}

QString busScanProgressText(const BusScanProgress &progress)
{
    return QStringLiteral("address %1 of %2, %3 found")
        .arg(progress.asked)
        .arg(progress.total)
        .arg(progress.found);
}

QString busScanSummary(const BusScanReport &report)
{
    QString summary = QStringLiteral("asked %1 addresses in %2 s: %3 found, %4 requests")
                          .arg(report.asked)
                          .arg(double(report.took.count()) / 1000, 0, 'f', 1)
                          .arg(report.found.size())
                          .arg(report.requests);
    if (report.cancelled)
        summary += QStringLiteral("; stopped before the last address");
    if (!report.linkFailure.isEmpty())
        summary += QStringLiteral("; stopped: %1").arg(report.linkFailure);
    return summary;
}

std::optional<QString> saveLineFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit())
        return std::nullopt;
    return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
}

QString busScanLineFile(const QString &port, const QString &lineSettings,
    const BusScanReport &report, const QDateTime &at)
{
    QStringList lines {
        QStringLiteral("# The meters meterlog --scan found on %1 at %2, %3.")
            .arg(port, lineSettings, at.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"))),
        QStringLiteral("# Run it with: meterlog --config FILE"),
        QStringLiteral("port = %1").arg(quoted(port)),
        QStringLiteral("line = %1").arg(quoted(lineSettings)),
    };
    for (const auto &device : report.found) {
        lines << QString();
        if (device.types.size() == 1) {
            lines << QStringLiteral("[[meter]]")
                  << QStringLiteral("address = %1").arg(device.address)
                  << QStringLiteral("type = %1").arg(quoted(device.types.first()));
            continue;
        }
        // Read as it stands, the line leaves it out: a type must be chosen first.
        lines << QStringLiteral(
            "# address %1: %2. Give it a type (meterlog --meter-types) to read it:")
                     .arg(device.address)
                     .arg(foundModelText(device))
              << QStringLiteral("# [[meter]]")
              << QStringLiteral("# address = %1").arg(device.address)
              << QStringLiteral("# type = %1")
                     .arg(quoted(
                         device.types.isEmpty() ? QStringLiteral("...") : device.types.first()));
    }
    return lines.join(u'\n') + u'\n';
}

} // namespace meterlog

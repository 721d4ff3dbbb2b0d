#include "app/runreport.h"

#include <QStringList>

#include "common/lastingcondition.h"
#include "meters/metertypefile.h"
#include "net/networkaddress.h"
#include "serial/portlocation.h"
#include "table/snapshotfile.h"

namespace meterlog {

namespace {

// The port and how it is reached: a gateway has no line settings of its own to show.
QString portText(const QString &port, const QString &lineSettings, const QString &folder)
{
    if (const auto gateway = parseNetworkAddress(port)) {
        return QStringLiteral("port %1 (%2)")
            .arg(gateway->url(),
                gateway->framing == NetworkAddress::Framing::ModbusTcp
                    ? QStringLiteral("Modbus TCP")
                    : QStringLiteral("RTU over TCP"));
    }
    // A number leads to a device; the log names it, as a link in the folder or a built-in port.
    const QString device = port.startsWith(u'/')
        ? port
        : QStringLiteral("%1 (%2)").arg(port, deviceForPortNumber(port.toInt(), folder));
    return QStringLiteral("port %1 at %2").arg(device, lineSettings);
}

// "meter types default,sdm630,...", or that every meter is of the default type.
QString meterTypesText(const StartValues &start)
{
    QStringList names;
    for (const auto &type : meterTypesOfLine(start))
        names << (type ? type->name : QStringLiteral("default"));
    return names.count(QStringLiteral("default")) == names.size()
        ? QStringLiteral("default meters")
        : QStringLiteral("meter types %1").arg(names.join(u','));
}

// How a meter of `type` is read: a default meter through the window's range.
QString planOf(const std::optional<MeterType> &type, const StartValues &start)
{
    if (type)
        return readingPlan(*type);
    MeterType windowRange = defaultMeterType();
    windowRange.blocks = {ReadBlock {start.readFunction,
        std::uint16_t(start.startAddress ? start.startAddress->toInt() : createdStartAddress),
        std::uint16_t(start.registerCount ? start.registerCount->toInt() : createdRegisterCount)}};
    return readingPlan(windowRange);
}

// The addresses of the slots, then of the meters beyond them.
QStringList allAddresses(const StartValues &start)
{
    QStringList addresses = start.addresses;
    for (const auto &meter : start.beyondSlots)
        addresses << QString::number(meter.address);
    return addresses;
}

} // namespace

QString checkReport(const ProgramOptions &options)
{
    const auto &start = options.start;
    QStringList lines {
        options.lineFile ? QStringLiteral("line %1").arg(*options.lineFile)
                         : QStringLiteral("line from the command line"),
        portText(start.port, start.lineSettings, options.folder.value_or(QString())),
        QStringLiteral("reply limit %1 ms, mode %2, %3")
            .arg(start.replyLimit.count())
            .arg(start.manual ? QStringLiteral("Manual") : QStringLiteral("Auto"),
                options.headless ? QStringLiteral("no window") : QStringLiteral("with its window")),
    };
    const auto types = meterTypesOfLine(start);
    const int meters = slotCount + int(start.beyondSlots.size());
    for (int slot = 0; slot < meters; ++slot) {
        if (slot < slotCount && slot >= start.addresses.size())
            continue;
        const auto &type = types[std::size_t(slot)];
        const bool beyond = slot >= slotCount;
        QString meter = QStringLiteral("meter %1").arg(slot + 1);
        if (std::size_t(slot) < options.meters.size()) {
            const auto &named = options.meters[slot];
            meter = named.name == named.id
                ? QStringLiteral("meter %1").arg(named.id)
                : QStringLiteral("meter %1 \"%2\"").arg(named.id, named.name);
        }
        const auto &limit
            = beyond ? start.beyondSlots[slot - slotCount].replyLimit : start.replyLimits[slot];
        const auto &every = beyond ? start.beyondSlots[slot - slotCount].every : start.every[slot];
        const QString address = beyond
            ? QString::number(start.beyondSlots[slot - slotCount].address)
            : start.addresses[slot];
        // A default meter beyond the slots is read through the window's range, as in a slot.
        const bool followsWindow = !type || type->followsWindow;
        QStringList parts {QStringLiteral("address %1").arg(address),
            type ? type->name : QStringLiteral("default"),
            planOf(followsWindow ? std::nullopt : type, start)};
        if (limit)
            parts << QStringLiteral("reply limit %1 ms").arg(limit->count());
        if (every)
            parts << QStringLiteral("asked at most every %1 s").arg(every->count());
        lines << QStringLiteral("%1: %2").arg(meter, parts.join(QStringLiteral(", ")));
    }
    lines << (options.historyFolder ? QStringLiteral("history in %1 every %2 s")
                                          .arg(*options.historyFolder)
                                          .arg(options.historyEvery.count())
                                    : QStringLiteral("no history"));
    lines << (options.mqtt ? QStringLiteral("publishing to ") + describeTarget(*options.mqtt)
                           : QStringLiteral("no publishing"));
    if (options.metrics) {
        lines << QStringLiteral("metrics for Prometheus on %1 port %2")
                     .arg(options.metrics->host)
                     .arg(options.metrics->port);
    }
    return lines.join(u'\n') + u'\n';
}

QString startLine(const ProgramOptions &options, const FolderChoice &folder)
{
    const auto &start = options.start;
    const int first = start.startAddress ? start.startAddress->toInt() : createdStartAddress;
    const int count = start.registerCount ? start.registerCount->toInt() : createdRegisterCount;
    QStringList parts;
    if (options.lineFile)
        parts << QStringLiteral("line file %1").arg(*options.lineFile);
    parts << QStringList {
        portText(start.port, start.lineSettings, folder.folder),
        QStringLiteral("meters %1").arg(allAddresses(start).join(u',')),
        QStringLiteral("%1registers %2 to %3")
            .arg(start.readFunction == 4 ? QStringLiteral("input ") : QString())
            .arg(first)
            .arg(first + count - 1),
        QStringLiteral("reply limit %1 ms").arg(start.replyLimit.count()),
        meterTypesText(start),
        start.manual ? QStringLiteral("mode Manual") : QStringLiteral("mode Auto"),
        options.headless ? QStringLiteral("no window") : QStringLiteral("with its window"),
        QStringLiteral("snapshot file %1 (%2)").arg(snapshotPath(folder.folder), folder.reason),
    };
    if (options.historyFolder) {
        parts << QStringLiteral("history in %1 every %2 s, %3")
                     .arg(*options.historyFolder)
                     .arg(options.historyEvery.count())
                     .arg(options.historyDays
                             ? QStringLiteral("kept %1 days").arg(*options.historyDays)
                             : QStringLiteral("kept for ever"));
    } else {
        parts << QStringLiteral("no history");
    }
    parts << (options.mqtt ? QStringLiteral("publishing to ") + describeTarget(*options.mqtt)
                           : QStringLiteral("no publishing"));
    return QStringLiteral("meterlog %1 starts: %2").arg(METERLOG_VERSION, parts.join(u", "));
}

QString stopLine(std::chrono::milliseconds ranFor, const QString &why)
{
    return QStringLiteral("meterlog stops after %1: %2").arg(spokenDuration(ranFor), why);
}

} // namespace meterlog

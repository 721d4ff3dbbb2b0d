#include "table/metersummary.h"

#include <QStringList>

#include "common/numberreading.h"
#include "table/registergrid.h"

namespace meterlog {

MeterCaptions summarize(const RegisterGrid &grid, MeterCaptions shown)
{
    if (const auto frequency = grid.cellText(frequencyRow, frequencyColumn))
        shown.frequency = *frequency;
    for (int meter = 0; meter < slotCount; ++meter) {
        const int column = RegisterGrid::firstSlotColumn + meter;
        const auto high = grid.cellText(kilowattHighRow, column);
        const auto low = grid.cellText(kilowattLowRow, column);
        if (!high || !low)
            continue;
        if (const auto text = kilowattText(*high, *low))
            shown.kilowatts[meter] = *text;
    }
    return shown;
}

namespace {

// A typed meter's power in kW: up to three decimals, no trailing zeros.
QString typedKilowattText(double value, const QString &unit)
{
    const double kilowatts = unit == u"kW" ? value : value / 1000;
    QString text = QString::number(kilowatts, 'f', 3);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text == u"-0" ? QStringLiteral("0") : text;
}

} // namespace

MeterCaptions summarize(const RegisterGrid &grid, const TypedMeters &typed, MeterCaptions shown)
{
    auto captions = summarize(grid, shown);
    for (int slot = 0; slot < slotCount; ++slot) {
        const auto *type = typed.typeOf(slot);
        if (!type)
            continue;
        // The grid's words of a typed meter are its first block's, not kW.
        captions.kilowatts[slot] = shown.kilowatts[slot];
        const auto *power = fieldNamed(*type, QStringLiteral("power"));
        if (const auto value = typed.valueOf(slot, QStringLiteral("power")); power && value)
            captions.kilowatts[slot] = typedKilowattText(*value, power->unit);
    }
    captions.frequency = [&] {
        const auto slot = typed.lineFrequencySlot();
        if (!slot)
            return shown.frequency;
        if (!typed.typeOf(*slot)) {
            return *slot == frequencySlot
                ? captions.frequency
                : grid.cellText(frequencyRow, RegisterGrid::firstSlotColumn + *slot)
                      .value_or(shown.frequency);
        }
        // Written as a grid cell shows today's meters' frequency: a blank, 1/100 Hz.
        const auto hertz = typed.valueOf(*slot, QStringLiteral("frequency"));
        return hertz ? QStringLiteral(" %1").arg(qRound64(*hertz * 100)) : shown.frequency;
    }();
    return captions;
}

QString snapshotLine(const MeterCaptions &captions)
{
    QStringList fields {captions.frequency};
    for (const auto &kilowatts : captions.kilowatts)
        fields.append(kilowatts);
    return fields.join(u',');
}

} // namespace meterlog

#include "table/metersummary.h"

#include <QStringList>

#include "common/numberreading.h"
#include "table/registergrid.h"

namespace meterlog {

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

std::optional<QString> kilowattsOf(const RegisterGrid &grid, const TypedMeters &typed, int slot)
{
    if (const auto *type = typed.typeOf(slot)) {
        const auto *power = fieldNamed(*type, QStringLiteral("power"));
        const auto value = typed.valueOf(slot, QStringLiteral("power"));
        if (!power || !value)
            return std::nullopt;
        return typedKilowattText(*value, power->unit);
    }
    const int column = RegisterGrid::firstSlotColumn + slot;
    const auto high = grid.cellText(kilowattHighRow, column);
    const auto low = grid.cellText(kilowattLowRow, column);
    if (!high || !low)
        return std::nullopt;
    return kilowattText(*high, *low);
}

std::optional<QString> frequencyOf(const RegisterGrid &grid, const TypedMeters &typed)
{
    const auto slot = typed.lineFrequencySlot();
    if (!slot)
        return std::nullopt;
    if (!typed.typeOf(*slot))
        return grid.cellText(frequencyRow, RegisterGrid::firstSlotColumn + *slot);
    // Written as a grid cell shows a default meter's frequency: a blank, the count.
    const auto hertz = typed.valueOf(*slot, QStringLiteral("frequency"));
    if (!hertz)
        return std::nullopt;
    return QStringLiteral(" %1").arg(qRound64(*hertz / defaultMeter::hertzPerCount));
}

} // namespace

MeterCaptions summarize(const RegisterGrid &grid, const TypedMeters &typed, MeterCaptions shown)
{
    if (const auto frequency = frequencyOf(grid, typed))
        shown.frequency = *frequency;
    for (int slot = 0; slot < slotCount; ++slot) {
        if (const auto kilowatts = kilowattsOf(grid, typed, slot))
            shown.kilowatts[slot] = *kilowatts;
    }
    return shown;
}

QString snapshotLine(const MeterCaptions &captions)
{
    QStringList fields {captions.frequency};
    for (const auto &kilowatts : captions.kilowatts)
        fields.append(kilowatts);
    return fields.join(u',');
}

} // namespace meterlog

#include "metersummary.h"

#include <QStringList>

#include "numberreading.h"
#include "registergrid.h"

namespace meterlog {

std::optional<QString> kilowattText(const QString &highWord, const QString &lowWord)
{
    const auto high = readWholeNumber(highWord);
    const auto low = readWholeNumber(lowWord);
    if (!high || !low)
        return std::nullopt;
    const double kilowatts = *high * 65536.0 + *low;
    if (!std::isfinite(kilowatts))
        return std::nullopt;
    return plainNumberText(kilowatts);
}

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

QString snapshotLine(const MeterCaptions &captions)
{
    QStringList fields {captions.frequency};
    for (const auto &kilowatts : captions.kilowatts)
        fields.append(kilowatts);
    return fields.join(u',');
}

} // namespace meterlog

#include "readings/readingrows.h"

#include "common/numberreading.h"
#include "meters/meters.h"

namespace meterlog {

QList<ReadingRow> readingRows(const Reading &reading, const TypedMeters &types)
{
    QList<ReadingRow> rows;
    const auto lineFrequencySlot = types.lineFrequencySlot();
    for (int slot = 0; slot < int(reading.meters.size()) && slot < types.meterCount(); ++slot) {
        if (!reading.polled[slot])
            continue;
        const auto &meter = reading.meters[slot];
        const auto *type = types.typeOf(slot);
        const QString name = std::size_t(slot) < reading.labels.size()
            ? reading.labels[slot].name
            : QStringLiteral("M%1").arg(slot + 1);
        if (!type) {
            const QString typeName = QStringLiteral("default");
            rows << ReadingRow {{slot, powerField}, name, meter.lastDevice, typeName,
                QStringLiteral("kW"), 0, readWholeNumber(reading.kilowatts[slot]),
                meter.lastReplyAt, meter.confirmed()};
            if (slot == lineFrequencySlot) {
                const auto count = readWholeNumber(reading.frequency);
                rows << ReadingRow {{slot, frequencyField}, name, meter.lastDevice, typeName,
                    QStringLiteral("Hz"), 2,
                    count ? std::optional(*count * defaultMeter::hertzPerCount) : std::nullopt,
                    meter.lastReplyAt, meter.confirmed()};
            }
            continue;
        }
        const auto &fields = reading.fields[slot];
        for (int i = 0; i < type->fields.size(); ++i) {
            const auto &field = type->fields[i];
            const bool sent = fields && fields->at.isValid() && i < fields->values.size();
            rows << ReadingRow {{slot, field.name}, name, meter.lastDevice, type->name, field.unit,
                shownDecimals(field), sent ? fields->values[i].value : std::nullopt,
                sent ? fields->at : QDateTime(), meter.confirmed() && sent};
        }
    }
    return rows;
}

} // namespace meterlog

#include "tests/support/readingsamples.h"

namespace meterlog {

Reading readingAt(const QDateTime &at, std::array<bool, slotCount> confirmed)
{
    Reading reading;
    reading.at = at;
    reading.frequency = QStringLiteral(" 5002");
    reading.frequencySlot = slotCount - 1; // a line of default meters: the fifth gives it
    reading.kilowatts = {"1520", "3275", "860", "12400", "402600"};
    for (int meter = 0; meter < slotCount; ++meter) {
        auto &counters = reading.meters[meter];
        counters.lastScanVerified = confirmed[meter];
        counters.lastDevice = meter + 1;
        if (confirmed[meter])
            counters.lastReplyAt = at;
        reading.polled[meter] = true;
    }
    return reading;
}

} // namespace meterlog

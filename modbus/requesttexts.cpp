#include "modbus/requesttexts.h"

#include "common/numberreading.h"

namespace meterlog {

std::optional<ReadRequest> requestFromTexts(
    const QString &deviceText, const QString &startText, const QString &countText)
{
    const auto device = readWholeNumber(deviceText);
    const auto deviceAddress = device ? toWhole<std::uint8_t>(*device) : std::nullopt;
    const auto count = toWhole<std::uint8_t>(readLeadingNumber(countText));
    const auto start = toWhole<std::uint16_t>(readLeadingNumber(startText));
    if (!deviceAddress || !count || !start)
        return std::nullopt;
    return ReadRequest {*deviceAddress, *start, *count};
}

} // namespace meterlog

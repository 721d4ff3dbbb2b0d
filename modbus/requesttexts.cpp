#include "modbus/requesttexts.h"

#include "common/numberreading.h"

namespace meterlog {

std::optional<std::uint8_t> deviceFromText(const QString &deviceText)
{
    const auto device = readWholeNumber(deviceText);
    return device ? toWhole<std::uint8_t>(*device) : std::nullopt;
}

std::optional<ReadRequest> requestFromTexts(
    const QString &deviceText, const QString &startText, const QString &countText)
{
    const auto deviceAddress = deviceFromText(deviceText);
    const auto count = toWhole<std::uint8_t>(readLeadingNumber(countText));
    const auto start = toWhole<std::uint16_t>(readLeadingNumber(startText));
    if (!deviceAddress || !count || !start)
        return std::nullopt;
    return ReadRequest {*deviceAddress, *start, *count};
}

} // namespace meterlog

#pragma once

// The request that a slot's boxes describe, read from their texts.

#include <QString>

#include <optional>

#include "modbus/readframes.h"

namespace meterlog {

// The device address that a slot's address box holds: 0..255, the whole text a number.
std::optional<std::uint8_t> deviceFromText(const QString &deviceText);

// The request that the slot's inputs describe: device address 0..255 (the whole text a number),
// start address 0..65535 and count 0..255 (each read from the start of its text; text that does
// not begin with a number reads 0). Fails when any of them is out of range.
std::optional<ReadRequest> requestFromTexts(
    const QString &deviceText, const QString &startText, const QString &countText);

} // namespace meterlog

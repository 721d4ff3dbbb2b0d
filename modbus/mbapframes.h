#pragma once

// Function 3 as Modbus TCP carries it: each frame starts with an MBAP header (transaction id,
// protocol id 0, the length of what follows, the unit id, which is the meter's address) and holds
// the request or reply itself without address or CRC. A reply is used only when it is a complete,
// correct answer to the very transaction asked; replies to earlier transactions, which a gateway
// may still send after their time-out, are passed over whole.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

#include "modbus/readframes.h"

namespace meterlog {

// Transaction (2 bytes), protocol (2), length (2), unit (1).
inline constexpr int mbapHeaderLength = 7;

QByteArray mbapRequest(std::uint16_t transaction, const ReadRequest &request);

// How many more bytes must come before the reply to `transaction` among `received` can be judged:
// 0 when it can be now, also when the bytes cannot be read as MBAP frames at all.
int mbapBytesStillNeeded(std::uint16_t transaction, QByteArrayView received);

// Checks the first frame of `transaction` in `received`, in a fixed order: its protocol id, its
// length, the unit, an exception, the function code and the byte count.
ReplyCheck checkMbapReply(
    std::uint16_t transaction, const ReadRequest &request, QByteArrayView received);

} // namespace meterlog

#pragma once

// One request and its reply on a link: the request goes out once the line is quiet, the reply is
// waited for up to a limit and judged by the request's own framing. The scan cycle asks its
// meters so, and the bus scan its addresses.

#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>

#include "modbus/framing.h"
#include "modbus/readframes.h"
#include "modbus/replywait.h"

namespace meterlog {

class Link;

// A line that never falls silent for a frame gap within this long carries no request of ours.
inline constexpr std::chrono::milliseconds silenceLimit {100};

// How one slot's turn, or one exchange, ended.
enum class SlotOutcome {
    Skipped, // not ticked
    Resting, // ticked, but its meter is not due this scan
    NotDescribed, // the inputs describe no request: nothing sent
    PortNotOpen, // nothing sent
    SendFailed, // the port took the request but could not send it
    Verified,
    TimedOut, // nothing complete before the limit: no reply, or one cut short
    BadCrc,
    ForeignDevice,
    Exception,
    Malformed,
    PortLost, // the port closed during the wait
    Cancelled,
};

struct ExchangeResult
{
    SlotOutcome outcome = SlotOutcome::TimedOut;
    std::uint8_t exceptionCode = 0; // with SlotOutcome::Exception
    QList<std::uint16_t> words; // of a verified reply
    // Not one byte of a reply came: with TimedOut, nobody answered.
    bool silent = false;
};

// Sends `request` over `link`, framed by `framing`, and waits up to `replyLimit` for its reply.
// `who` names the asked meter in the frame trace. Returns Cancelled, touching the link no more,
// when `cancel` fires during a wait.
ExchangeResult exchange(Link &link, Framing &framing, const ReadRequest &request,
    std::chrono::milliseconds replyLimit, const Cancellation &cancel, const QString &who);

} // namespace meterlog

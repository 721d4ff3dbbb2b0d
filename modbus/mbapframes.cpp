#include "modbus/mbapframes.h"

#include <optional>

namespace meterlog {

namespace {

// The largest frame: a header and a PDU of 253 bytes.
constexpr int mostLengthField = 254;
// The length field counts the unit id and the PDU: at least a function code follows.
constexpr int leastLengthField = 2;

std::uint16_t wordAt(QByteArrayView bytes, qsizetype at)
{
    return std::uint16_t(std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]));
}

// Where the frame of `transaction` lies in `received`, walking over whole frames of others.
struct Search
{
    std::optional<QByteArrayView> frame; // found whole
    int stillNeeded = 0; // otherwise: bytes until the next frame boundary can be read
    bool unreadable = false; // a length no MBAP frame has: nothing after it can be framed
};

Search findFrame(std::uint16_t transaction, QByteArrayView received)
{
    qsizetype at = 0;
    for (;;) {
        const auto rest = received.sliced(at);
        if (rest.size() < mbapHeaderLength)
            return {std::nullopt, int(mbapHeaderLength - rest.size()), false};
        const int length = wordAt(rest, 4);
        if (length < leastLengthField || length > mostLengthField)
            return {std::nullopt, 0, true};
        const qsizetype total = 6 + length;
        if (rest.size() < total)
            return {std::nullopt, int(total - rest.size()), false};
        if (wordAt(rest, 0) == transaction)
            return {rest.first(total), 0, false};
        at += total;
    }
}

} // namespace

QByteArray mbapRequest(std::uint16_t transaction, const ReadRequest &request)
{
    const QByteArray body = requestBody(request);
    QByteArray frame;
    frame.append(char(transaction >> 8));
    frame.append(char(transaction & 0xFF));
    frame.append(2, '\0'); // protocol 0: Modbus
    frame.append(char(0));
    frame.append(char(body.size())); // the unit id and the PDU
    frame.append(body); // the unit id is where the RTU address would be
    return frame;
}

int mbapBytesStillNeeded(std::uint16_t transaction, QByteArrayView received)
{
    const auto search = findFrame(transaction, received);
    return search.frame || search.unreadable ? 0 : search.stillNeeded;
}

ReplyCheck checkMbapReply(
    std::uint16_t transaction, const ReadRequest &request, QByteArrayView received)
{
    if (received.isEmpty())
        return ReplyCheck::silence();
    const auto search = findFrame(transaction, received);
    if (search.unreadable)
        return ReplyCheck::only(ReplyVerdict::Malformed);
    if (!search.frame)
        return ReplyCheck::only(ReplyVerdict::Short);
    const auto frame = *search.frame;
    if (wordAt(frame, 2) != 0)
        return ReplyCheck::only(ReplyVerdict::Malformed);
    if (std::uint8_t(frame[6]) != request.device)
        return ReplyCheck::only(ReplyVerdict::ForeignDevice);
    return checkReplyPdu(request, frame.sliced(mbapHeaderLength));
}

} // namespace meterlog

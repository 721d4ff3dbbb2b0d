#include "modbus/readframes.h"

#include <algorithm>

namespace meterlog {

namespace {

std::uint8_t byteAt(QByteArrayView bytes, qsizetype index)
{
    return std::uint8_t(bytes[index]);
}

// Whether the `length` bytes at the start of `frame` end in the CRC of the bytes before it.
bool hasValidCrc(const CrcTable &table, QByteArrayView frame, qsizetype length)
{
    const auto crc = crcOf(table, frame.first(length - 2));
    return crc.first == byteAt(frame, length - 2) && crc.second == byteAt(frame, length - 1);
}

bool isExceptionReply(const CrcTable &table, const ReadRequest &request, QByteArrayView reply)
{
    return reply.size() >= exceptionReplyLength
        && byteAt(reply, 1) == (request.function | exceptionFlag)
        && hasValidCrc(table, reply, exceptionReplyLength);
}

} // namespace

ReplyCheck ReplyCheck::only(ReplyVerdict verdict, std::uint8_t exceptionCode)
{
    ReplyCheck check;
    check.verdict = verdict;
    check.exceptionCode = exceptionCode;
    return check;
}

ReplyCheck ReplyCheck::silence()
{
    ReplyCheck check;
    check.silent = true;
    return check;
}

ReplyCheck checkReplyPdu(const ReadRequest &request, QByteArrayView pdu)
{
    if (pdu.size() == 2 && byteAt(pdu, 0) == (request.function | exceptionFlag))
        return ReplyCheck::only(ReplyVerdict::Exception, byteAt(pdu, 1));
    if (pdu.size() != 2 + 2 * request.count || byteAt(pdu, 0) != request.function
        || byteAt(pdu, 1) != 2 * request.count)
        return ReplyCheck::only(ReplyVerdict::Malformed);
    auto check = ReplyCheck::only(ReplyVerdict::Verified);
    check.registers.reserve(request.count);
    for (int r = 0; r < request.count; ++r)
        check.registers.append(std::uint16_t(byteAt(pdu, 2 + 2 * r) << 8 | byteAt(pdu, 3 + 2 * r)));
    return check;
}

QByteArray requestBody(const ReadRequest &request)
{
    QByteArray body;
    body.append(char(request.device));
    body.append(char(request.function));
    body.append(char(request.startAddress >> 8));
    body.append(char(request.startAddress & 0xFF));
    body.append(char(0));
    body.append(char(request.count));
    return body;
}

ReplyCheck checkReadReply(const CrcTable &table, const ReadRequest &request, QByteArrayView reply)
{
    if (reply.isEmpty())
        return ReplyCheck::silence();
    if (isExceptionReply(table, request, reply)) {
        if (byteAt(reply, 0) != request.device)
            return ReplyCheck::only(ReplyVerdict::ForeignDevice);
        return ReplyCheck::only(ReplyVerdict::Exception, byteAt(reply, 2));
    }
    const int length = replyLength(request.count);
    if (reply.size() < length)
        return ReplyCheck::only(ReplyVerdict::Short);
    if (!hasValidCrc(table, reply, length))
        return ReplyCheck::only(ReplyVerdict::BadCrc);
    if (byteAt(reply, 0) != request.device)
        return ReplyCheck::only(ReplyVerdict::ForeignDevice);
    // No device answers a broadcast (address 0); a frame that claims to is no answer of a meter.
    if (request.device == 0)
        return ReplyCheck::only(ReplyVerdict::Malformed);
    // Between the address and the CRC.
    const auto check = checkReplyPdu(request, reply.sliced(1, length - 3));
    // An exception of full length is no answer to this request either.
    return check.verdict == ReplyVerdict::Exception ? ReplyCheck::only(ReplyVerdict::Malformed)
                                                    : check;
}

QByteArrayView replyAfterEcho(QByteArrayView received, QByteArrayView request)
{
    return received.startsWith(request) ? received.sliced(request.size()) : received;
}

bool isReplyComplete(const CrcTable &table, const ReadRequest &request, QByteArrayView reply)
{
    return reply.size() >= replyLength(request.count) || isExceptionReply(table, request, reply);
}

int bytesStillNeeded(const CrcTable &table, const ReadRequest &request, QByteArrayView frame,
    QByteArrayView received)
{
    // From `size` bytes of a reply, the next length at which it can be judged: an exception
    // reply's, then a full response's.
    const auto toNextVerdict = [&](qsizetype size) {
        return int(size < exceptionReplyLength
                ? exceptionReplyLength - size
                : std::max<qsizetype>(1, replyLength(request.count) - size));
    };
    // Bytes that could be the start of an echo are also the start of a reply (both begin with
    // the device address and function 3): whichever comes to a verdict first.
    if (received.size() < frame.size() && frame.startsWith(received)) {
        return std::min(toNextVerdict(received.size()),
            int(frame.size() - received.size()) + exceptionReplyLength);
    }
    const auto reply = replyAfterEcho(received, frame);
    if (isReplyComplete(table, request, reply))
        return 0;
    return toNextVerdict(reply.size());
}

} // namespace meterlog

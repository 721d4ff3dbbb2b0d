#include "modbus/framing.h"

#include "modbus/mbapframes.h"

namespace meterlog {

namespace {

constexpr std::uint8_t gatewayTargetFailedToRespond = 0x0B;

ReplyCheck gatewayReply(ReplyCheck check)
{
    if (check.verdict == ReplyVerdict::Exception
        && check.exceptionCode == gatewayTargetFailedToRespond)
        return ReplyCheck::silence();
    return check;
}

} // namespace

RtuFraming::RtuFraming(CrcRoutine &crc, FramePath path)
    : m_crc(crc)
    , m_path(path)
{ }

Exchange RtuFraming::exchange(const ReadRequest &request)
{
    auto frame = requestBody(request);
    m_crc.proc1(frame, std::int16_t(frame.size()));
    frame.append(char(m_crc.crc_hi));
    frame.append(char(m_crc.crc_lo));
    const bool gateway = m_path == FramePath::Gateway;
    // The copy an echoing adapter would put first; none behind a gateway.
    const QByteArray echo = gateway ? QByteArray() : frame;
    const CrcTable &table = m_crc.crc_table;
    return {frame,
        [&table, request, echo](
            QByteArrayView received) { return bytesStillNeeded(table, request, echo, received); },
        [&table, request, echo, gateway](QByteArrayView received) {
            const auto check = checkReadReply(table, request, replyAfterEcho(received, echo));
            return gateway ? gatewayReply(check) : check;
        }};
}

Exchange MbapFraming::exchange(const ReadRequest &request)
{
    const std::uint16_t transaction = m_nextTransaction++;
    return {mbapRequest(transaction, request),
        [transaction](
            QByteArrayView received) { return mbapBytesStillNeeded(transaction, received); },
        [transaction, request](QByteArrayView received) {
            return gatewayReply(checkMbapReply(transaction, request, received));
        }};
}

} // namespace meterlog

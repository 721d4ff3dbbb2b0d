#include "modbus/framing.h"

#include "modbus/mbapframes.h"

namespace meterlog {

RtuFraming::RtuFraming(CrcRoutine &crc, bool echoes)
    : m_crc(crc)
    , m_echoes(echoes)
{ }

Exchange RtuFraming::exchange(const ReadRequest &request)
{
    auto frame = requestBody(request);
    m_crc.proc1(frame, std::int16_t(frame.size()));
    frame.append(char(m_crc.crc_hi));
    frame.append(char(m_crc.crc_lo));
    // The copy an echoing adapter would put first; none behind a gateway.
    const QByteArray echo = m_echoes ? frame : QByteArray();
    const CrcTable &table = m_crc.crc_table;
    return {frame,
        [&table, request, echo](
            QByteArrayView received) { return bytesStillNeeded(table, request, echo, received); },
        [&table, request, echo](QByteArrayView received) {
            return checkReadReply(table, request, replyAfterEcho(received, echo));
        }};
}

Exchange MbapFraming::exchange(const ReadRequest &request)
{
    const std::uint16_t transaction = m_nextTransaction++;
    return {mbapRequest(transaction, request),
        [transaction](
            QByteArrayView received) { return mbapBytesStillNeeded(transaction, received); },
        [transaction, request](
            QByteArrayView received) { return checkMbapReply(transaction, request, received); }};
}

} // namespace meterlog

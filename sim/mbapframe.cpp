#include "sim/mbapframe.h"

namespace {
// Transaction id, protocol id, length, unit id.
constexpr std::size_t headerSize = 7;
// The length counts the unit id and the PDU: at least a function code, at most the 253 bytes an
// RTU frame can carry between its address and its CRC.
constexpr int shortestLength = 2;
constexpr int longestLength = 254;
constexpr std::size_t lengthFieldEnd = 6;

int wordAt(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return (bytes[offset] << 8) | bytes[offset + 1];
}

void appendWord(std::vector<std::uint8_t> &frame, unsigned word)
{
    frame.push_back(static_cast<std::uint8_t>(word >> 8));
    frame.push_back(static_cast<std::uint8_t>(word & 0xFFU));
}

} // namespace

MbapScan scanMbapFrame(std::span<const std::uint8_t> stream)
{
    MbapScan scan;
    if (stream.size() < headerSize)
        return scan;
    scan.protocolId = wordAt(stream, 2);
    scan.length = wordAt(stream, 4);
    if (scan.length < shortestLength || scan.length > longestLength) {
        scan.kind = MbapScan::Kind::BadLength;
        scan.size = stream.size();
        return scan;
    }
    const std::size_t size = lengthFieldEnd + static_cast<std::size_t>(scan.length);
    if (stream.size() < size)
        return scan;
    scan.size = size;
    if (scan.protocolId != 0) {
        scan.kind = MbapScan::Kind::ForeignProtocol;
        return scan;
    }
    scan.kind = MbapScan::Kind::Request;
    scan.request.transactionId = static_cast<std::uint16_t>(wordAt(stream, 0));
    scan.request.unit = stream[lengthFieldEnd];
    scan.request.pdu.assign(stream.begin() + headerSize, stream.begin() + size);
    return scan;
}

std::vector<std::uint8_t> mbapFrame(
    std::uint16_t transactionId, std::uint8_t unit, std::span<const std::uint8_t> pdu)
{
    std::vector<std::uint8_t> frame;
    frame.reserve(headerSize + pdu.size());
    appendWord(frame, transactionId);
    appendWord(frame, 0);
    appendWord(frame, static_cast<unsigned>(pdu.size() + 1));
    frame.push_back(unit);
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    return frame;
}

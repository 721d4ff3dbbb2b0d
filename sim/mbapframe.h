// Modbus TCP framing as the simulated gateway reads and writes it: the MBAP header (transaction
// id, protocol id 0, length of what follows, unit id), then the PDU, with no CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct MbapRequest
{
    std::uint16_t transactionId = 0;
    std::uint8_t unit = 0;
    std::vector<std::uint8_t> pdu;
};

// The first frame of a client's byte stream, as far as it has arrived.
struct MbapScan
{
    enum class Kind {
        // Not all of the frame is there yet.
        Incomplete,
        Request,
        // A whole frame, but not Modbus: its protocol id is not 0.
        ForeignProtocol,
        // The length field cannot be a Modbus frame's, so where the next frame starts is unknown.
        BadLength,
    };

    Kind kind = Kind::Incomplete;
    // Bytes the frame takes from the front of the stream.
    std::size_t size = 0;
    int protocolId = -1;
    int length = -1;
    MbapRequest request;
};

MbapScan scanMbapFrame(std::span<const std::uint8_t> stream);

std::vector<std::uint8_t> mbapFrame(
    std::uint16_t transactionId, std::uint8_t unit, std::span<const std::uint8_t> pdu);

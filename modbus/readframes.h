#pragma once

// Function 3 (read holding registers) or 4 (read input registers) on a Modbus RTU line: the
// request the master sends and the check of what comes back. A reply is used only when it is a
// complete, correct answer to this very request; everything else is named for what it is.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>

#include "modbus/crc16.h"

namespace meterlog {

inline constexpr std::uint8_t readHoldingRegisters = 0x03;
inline constexpr std::uint8_t readInputRegisters = 0x04;
// A device sets the top bit of the function code when it answers with an exception.
inline constexpr std::uint8_t exceptionFlag = 0x80;
// Address, function code, exception code and the CRC.
inline constexpr int exceptionReplyLength = 5;

struct ReadRequest
{
    std::uint8_t device = 0;
    std::uint16_t startAddress = 0;
    std::uint8_t count = 0;
    std::uint8_t function = readHoldingRegisters;
};

// The first six bytes of the request: device, function, start address (high, low), count (0, n).
QByteArray requestBody(const ReadRequest &request);

// Address, function code and byte count, then two bytes a register, then the CRC.
constexpr int replyLength(std::uint8_t count)
{
    return 2 * count + 5;
}

enum class ReplyVerdict {
    Verified, // a complete normal response to this request: its words can be used
    Short, // fewer bytes than the response needs (nothing at all included)
    BadCrc, // the checksum does not match the bytes before it
    ForeignDevice, // a correct frame from another device address
    Exception, // the device answered with an exception code
    Malformed, // a correct frame from this device that is no answer to this request
};

struct ReplyCheck
{
    ReplyVerdict verdict = ReplyVerdict::Short;
    std::uint8_t exceptionCode = 0; // with Exception
    QList<std::uint16_t> registers; // with Verified: one word a register, in order
    bool silent = false; // with Short: not one byte of a reply came (an echo of the request aside)

    static ReplyCheck only(ReplyVerdict verdict, std::uint8_t exceptionCode = 0);
    static ReplyCheck silence();
};

// Checks what a reply holds past its address, the same on every link: an exception and its code,
// or the function code, the byte count and the words. `pdu` is exactly that part of the frame.
ReplyCheck checkReplyPdu(const ReadRequest &request, QByteArrayView pdu);

// Checks in a fixed order: a complete exception reply, length, CRC, device, function code and
// byte count. Bytes after a complete response are ignored.
ReplyCheck checkReadReply(const CrcTable &table, const ReadRequest &request, QByteArrayView reply);

// What follows the copy of the request that an echoing adapter puts before every reply; the bytes
// as they are when they do not begin with that copy.
QByteArrayView replyAfterEcho(QByteArrayView received, QByteArrayView request);

// Whether waiting for more bytes can change the verdict: the bytes hold a full-length response
// or a complete exception reply.
bool isReplyComplete(const CrcTable &table, const ReadRequest &request, QByteArrayView reply);

// How many more bytes must come before what has been received can be judged: 0 when it can be
// now. `received` may start with the copy of `frame` that an echoing adapter puts first.
int bytesStillNeeded(const CrcTable &table, const ReadRequest &request, QByteArrayView frame,
    QByteArrayView received);

} // namespace meterlog

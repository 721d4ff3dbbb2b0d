// Fuzzes the check of a function 3 reply. The input is a request (device, start address high and
// low, count), one byte of patch flags, then the reply bytes. A random reply almost never carries
// a valid CRC, so the flags may write the right one where a full response or an exception reply
// ends; that lets the fuzzer reach every verdict. Another flag puts the request frame before the
// reply, as an echoing adapter does, and the echo must come off before the check. Each verdict is
// checked against the bytes with a bitwise CRC written here, independent of the table-driven one
// under test.

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzzcheck.h"
#include "modbus/crc16.h"
#include "modbus/readframes.h"

using namespace meterlog;

namespace {

constexpr std::size_t headerLength = 5;
constexpr std::uint8_t patchResponseCrc = 0x01;
constexpr std::uint8_t patchExceptionCrc = 0x02;
constexpr std::uint8_t prependEcho = 0x04;

// CRC-16/MODBUS one bit at a time: start FFFF, shift right, XOR A001 when a one drops out.
std::uint16_t bitwiseCrc(QByteArrayView bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= std::uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

std::uint8_t at(QByteArrayView bytes, qsizetype index)
{
    return std::uint8_t(bytes[index]);
}

// Whether the first `length` bytes end in the CRC (low-order byte first) of the bytes before.
bool endsInCrc(QByteArrayView bytes, qsizetype length)
{
    if (length < 2 || bytes.size() < length)
        return false;
    const auto crc = bitwiseCrc(bytes.first(length - 2));
    return at(bytes, length - 2) == (crc & 0xFF) && at(bytes, length - 1) == (crc >> 8);
}

void writeCrc(QByteArray &bytes, qsizetype length)
{
    if (length < 2 || bytes.size() < length)
        return;
    const auto crc = bitwiseCrc(QByteArrayView(bytes).first(length - 2));
    bytes[length - 2] = char(crc & 0xFF);
    bytes[length - 1] = char(crc >> 8);
}

bool isExceptionFrame(QByteArrayView reply)
{
    return reply.size() >= 5 && at(reply, 1) == 0x83 && endsInCrc(reply, 5);
}

bool sameCheck(const ReplyCheck &a, const ReplyCheck &b)
{
    return a.verdict == b.verdict && a.exceptionCode == b.exceptionCode
        && a.registers == b.registers;
}

// The request as it goes on the line: its body and the CRC.
QByteArray requestFrame(const ReadRequest &request)
{
    auto frame = requestBody(request);
    FUZZ_CHECK(frame.size() == 6);
    FUZZ_CHECK(at(frame, 0) == request.device);
    FUZZ_CHECK(at(frame, 1) == 0x03);
    FUZZ_CHECK((at(frame, 2) << 8 | at(frame, 3)) == request.startAddress);
    FUZZ_CHECK(at(frame, 4) == 0);
    FUZZ_CHECK(at(frame, 5) == request.count);
    frame.append(2, '\0');
    writeCrc(frame, frame.size());
    return frame;
}

// What is left of `received` once an echo of `frame` is taken off: its tail, without the frame
// exactly when it begins with it.
QByteArray withoutEcho(const QByteArray &received, const QByteArray &frame)
{
    const auto rest = replyAfterEcho(received, frame);
    const bool echoed = received.size() >= frame.size()
        && std::memcmp(received.data(), frame.data(), std::size_t(frame.size())) == 0;
    const auto restLength = echoed ? received.size() - frame.size() : received.size();
    FUZZ_CHECK(rest.size() == restLength);
    FUZZ_CHECK(rest.data() == received.data() + (received.size() - restLength));
    return rest.toByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < headerLength)
        return 0;
    static const CrcTable table = makeCrcTable();

    ReadRequest request;
    request.device = data[0];
    request.startAddress = std::uint16_t(data[1] << 8 | data[2]);
    request.count = data[3];
    const std::uint8_t flags = data[4];
    const auto frame = requestFrame(request);

    // A deep copy: the reply under test must own exactly its bytes, so ASan sees any overrun.
    QByteArray reply(
        reinterpret_cast<const char *>(data + headerLength), qsizetype(size - headerLength));
    const qsizetype length = 2 * qsizetype(request.count) + 5;
    if (flags & patchResponseCrc)
        writeCrc(reply, length);
    if (flags & patchExceptionCrc)
        writeCrc(reply, 5);
    if (flags & prependEcho) {
        const auto received = frame + reply;
        FUZZ_CHECK(withoutEcho(received, frame) == reply);
    } else {
        reply = withoutEcho(reply, frame);
    }

    const auto check = checkReadReply(table, request, reply);
    const bool complete = isReplyComplete(table, request, reply);
    const bool exceptionFrame = isExceptionFrame(reply);

    FUZZ_CHECK(replyLength(request.count) == length);
    // Waiting for more bytes is worth it exactly while the verdict is "too short".
    FUZZ_CHECK(complete == (reply.size() >= length || exceptionFrame));
    FUZZ_CHECK(complete == (check.verdict != ReplyVerdict::Short));
    if (check.verdict != ReplyVerdict::Verified)
        FUZZ_CHECK(check.registers.isEmpty());
    if (check.verdict != ReplyVerdict::Exception)
        FUZZ_CHECK(check.exceptionCode == 0);

    switch (check.verdict) {
    case ReplyVerdict::Verified:
        // No device answers a broadcast.
        FUZZ_CHECK(request.device != 0);
        FUZZ_CHECK(!exceptionFrame);
        FUZZ_CHECK(check.registers.size() == request.count);
        FUZZ_CHECK(reply.size() >= length);
        FUZZ_CHECK(at(reply, 0) == request.device);
        FUZZ_CHECK(at(reply, 1) == 0x03);
        FUZZ_CHECK(at(reply, 2) == 2 * request.count);
        FUZZ_CHECK(endsInCrc(reply, length));
        for (qsizetype r = 0; r < check.registers.size(); ++r)
            FUZZ_CHECK(check.registers[r] == (at(reply, 3 + 2 * r) << 8 | at(reply, 4 + 2 * r)));
        break;
    case ReplyVerdict::Short:
        FUZZ_CHECK(reply.size() < length);
        FUZZ_CHECK(!exceptionFrame);
        break;
    case ReplyVerdict::BadCrc:
        FUZZ_CHECK(!exceptionFrame);
        FUZZ_CHECK(reply.size() >= length);
        FUZZ_CHECK(!endsInCrc(reply, length));
        break;
    case ReplyVerdict::ForeignDevice:
        FUZZ_CHECK(at(reply, 0) != request.device);
        FUZZ_CHECK(exceptionFrame || endsInCrc(reply, length));
        break;
    case ReplyVerdict::Exception:
        FUZZ_CHECK(exceptionFrame);
        FUZZ_CHECK(at(reply, 0) == request.device);
        FUZZ_CHECK(check.exceptionCode == at(reply, 2));
        break;
    case ReplyVerdict::Malformed:
        FUZZ_CHECK(!exceptionFrame);
        FUZZ_CHECK(endsInCrc(reply, length));
        FUZZ_CHECK(at(reply, 0) == request.device);
        FUZZ_CHECK(
            request.device == 0 || at(reply, 1) != 0x03 || at(reply, 2) != 2 * request.count);
        break;
    default:
        FUZZ_CHECK(!"a verdict outside the enumeration");
    }

    // Bytes after a complete frame are ignored: the frame alone gets the same verdict.
    if (exceptionFrame)
        FUZZ_CHECK(sameCheck(check, checkReadReply(table, request, reply.first(5))));
    else if (reply.size() >= length)
        FUZZ_CHECK(sameCheck(check, checkReadReply(table, request, reply.first(length))));
    return 0;
}

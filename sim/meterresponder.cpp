#include "sim/meterresponder.h"

#include "sim/crc16.h"

namespace {

constexpr std::uint8_t readHoldingRegisters = 0x03;
constexpr std::uint8_t readInputRegisters = 0x04;
constexpr std::uint8_t exceptionFlag = 0x80;
constexpr std::uint8_t broadcastAddress = 0;
// Address, function and CRC: anything shorter cannot be a request.
constexpr std::size_t shortestFrame = 4;
// Address, function, start (2), count (2), CRC (2).
constexpr std::size_t readRequestSize = 8;
constexpr int mostRegistersPerRead = 125;

int wordAt(std::span<const std::uint8_t> frame, std::size_t offset)
{
    return (frame[offset] << 8) | frame[offset + 1];
}

RequestHandling exceptionHandling(RequestHandling handling, std::uint8_t code)
{
    handling.outcome = RequestHandling::Outcome::Exception;
    handling.exceptionCode = code;
    handling.reply = exceptionReply(static_cast<std::uint8_t>(handling.address),
        static_cast<std::uint8_t>(handling.function), code);
    return handling;
}

std::vector<std::uint8_t> registersReply(
    int address, int function, std::span<const std::uint16_t> words)
{
    std::vector<std::uint8_t> reply;
    reply.reserve(5 + 2 * words.size());
    reply.push_back(static_cast<std::uint8_t>(address));
    reply.push_back(static_cast<std::uint8_t>(function));
    reply.push_back(static_cast<std::uint8_t>(2 * words.size()));
    for (const std::uint16_t value : words) {
        reply.push_back(static_cast<std::uint8_t>(value >> 8));
        reply.push_back(static_cast<std::uint8_t>(value & 0xFFU));
    }
    appendCrc(reply);
    return reply;
}

bool isReadFunction(int function)
{
    return function == readHoldingRegisters || function == readInputRegisters;
}

} // namespace

std::vector<std::uint8_t> exceptionReply(
    std::uint8_t address, std::uint8_t function, std::uint8_t code)
{
    std::vector<std::uint8_t> reply {
        address, static_cast<std::uint8_t>(function | exceptionFlag), code};
    appendCrc(reply);
    return reply;
}

RequestHandling answerRequest(std::span<const std::uint8_t> frame, meterModel::Seconds sinceStart,
    int meterCount, const TypedSource &typed)
{
    RequestHandling handling;
    if (frame.size() < shortestFrame)
        return handling;
    handling.address = frame[0];
    handling.function = frame[1];
    // A slave that sees a corrupted frame keeps quiet: it cannot even trust the address.
    if (!hasValidCrc(frame)) {
        handling.outcome = RequestHandling::Outcome::BadCrc;
        return handling;
    }
    if (isReadFunction(handling.function) && frame.size() == readRequestSize) {
        handling.start = wordAt(frame, 2);
        handling.count = wordAt(frame, 4);
    }
    if (handling.address == broadcastAddress) {
        handling.outcome = RequestHandling::Outcome::Broadcast;
        return handling;
    }
    if (handling.address < meterModel::firstMeterAddress || handling.address > meterCount) {
        handling.outcome = RequestHandling::Outcome::OtherAddress;
        return handling;
    }
    // A meter of a type checks a read itself, against its own limit per read: any count goes to it.
    const auto typedWords
        = typed && isReadFunction(handling.function) && frame.size() == readRequestSize
        ? typed(handling.address, handling.function, handling.start, handling.count, sinceStart)
        : std::nullopt;
    if (typedWords) {
        if (const auto *code = std::get_if<std::uint8_t>(&*typedWords))
            return exceptionHandling(handling, *code);
        handling.outcome = RequestHandling::Outcome::Registers;
        handling.reply = registersReply(
            handling.address, handling.function, std::get<std::vector<std::uint16_t>>(*typedWords));
        return handling;
    }
    if (handling.function != readHoldingRegisters)
        return exceptionHandling(handling, modbusException::illegalFunction);
    if (frame.size() != readRequestSize)
        return exceptionHandling(handling, modbusException::illegalDataValue);

    // The order of the checks is the one the Modbus application protocol gives for function 3.
    if (handling.count < 1 || handling.count > mostRegistersPerRead)
        return exceptionHandling(handling, modbusException::illegalDataValue);
    const int mapEnd = meterModel::firstRegister + meterModel::registerCount;
    if (handling.start < meterModel::firstRegister || handling.start + handling.count > mapEnd)
        return exceptionHandling(handling, modbusException::illegalDataAddress);

    const meterModel::RegisterImage image = meterModel::registersAt(handling.address, sinceStart);
    handling.outcome = RequestHandling::Outcome::Registers;
    handling.reply = registersReply(handling.address, handling.function,
        std::span(image).subspan(
            static_cast<std::size_t>(handling.start - meterModel::firstRegister),
            static_cast<std::size_t>(handling.count)));
    return handling;
}

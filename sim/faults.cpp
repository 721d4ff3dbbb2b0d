#include "sim/faults.h"

#include "sim/crc16.h"
#include "sim/meterresponder.h"

#include <utility>

namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 8> faultNames {{
    {FaultKind::Silent, "silent"},
    {FaultKind::Slow, "slow"},
    {FaultKind::BadCrc, "bad-crc"},
    {FaultKind::Truncated, "truncated"},
    {FaultKind::WrongAddress, "wrong-address"},
    {FaultKind::Exception, "exception"},
    {FaultKind::Noise, "noise"},
    {FaultKind::Drop, "drop"},
}};

constexpr int wrongAddressOffset = 10;
constexpr int noiseBytesBefore = 3;
constexpr int noiseBytesAfter = 2;

std::uint32_t bitOf(FaultKind kind)
{
    return 1U << static_cast<unsigned>(kind);
}

void replaceCrc(std::vector<std::uint8_t> &frame)
{
    // Every reply ends in its CRC; a frame cut shorter than that has none to replace.
    if (frame.size() < 2)
        return;
    frame.resize(frame.size() - 2);
    appendCrc(frame);
}

} // namespace

std::optional<FaultKind> parseFaultKind(std::string_view name)
{
    for (const auto &[kind, kindName] : faultNames) {
        if (kindName == name)
            return kind;
    }
    return std::nullopt;
}

FaultInjector::FaultInjector(std::uint32_t seed)
    : m_random(seed)
{ }

void FaultInjector::add(int meterAddress, FaultKind kind)
{
    if (meterModel::isMeterAddress(meterAddress))
        m_faults[static_cast<std::size_t>(meterAddress)] |= bitOf(kind);
}

bool FaultInjector::has(int meterAddress, FaultKind kind) const
{
    return meterModel::isMeterAddress(meterAddress)
        && (m_faults[static_cast<std::size_t>(meterAddress)] & bitOf(kind)) != 0;
}

bool FaultInjector::hasFaults(int meterAddress) const
{
    return meterModel::isMeterAddress(meterAddress)
        && m_faults[static_cast<std::size_t>(meterAddress)] != 0;
}

std::string FaultInjector::describe(int meterAddress) const
{
    std::string names;
    for (const auto &[kind, kindName] : faultNames) {
        if (!has(meterAddress, kind))
            continue;
        if (!names.empty())
            names += ',';
        names += kindName;
    }
    return names;
}

std::uint8_t FaultInjector::randomByte()
{
    return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 0xFF)(m_random));
}

std::optional<FaultyReply> FaultInjector::apply(
    int meterAddress, int function, std::vector<std::uint8_t> reply)
{
    if (reply.empty())
        return std::nullopt;
    // The connection goes before anything else can happen to the reply.
    if (has(meterAddress, FaultKind::Drop))
        return FaultyReply {{}, false, true};
    if (has(meterAddress, FaultKind::Silent))
        return std::nullopt;
    // Applied in a fixed order so that combined faults stack predictably: the content first, then
    // the address, the CRC, the length, and last what the line adds around the frame.
    if (has(meterAddress, FaultKind::Exception)) {
        reply = exceptionReply(static_cast<std::uint8_t>(meterAddress),
            static_cast<std::uint8_t>(function), modbusException::serverDeviceFailure);
    }
    if (has(meterAddress, FaultKind::WrongAddress)) {
        // A valid frame from the wrong device: only the master's address check can catch it.
        reply[0] = static_cast<std::uint8_t>(meterAddress + wrongAddressOffset);
        replaceCrc(reply);
    }
    if (has(meterAddress, FaultKind::BadCrc))
        reply.back() ^= 0xFFU;
    if (has(meterAddress, FaultKind::Truncated))
        reply.resize(reply.size() / 2);
    if (has(meterAddress, FaultKind::Noise)) {
        std::vector<std::uint8_t> noisy;
        noisy.reserve(reply.size() + noiseBytesBefore + noiseBytesAfter);
        for (int i = 0; i < noiseBytesBefore; ++i)
            noisy.push_back(randomByte());
        noisy.insert(noisy.end(), reply.begin(), reply.end());
        for (int i = 0; i < noiseBytesAfter; ++i)
            noisy.push_back(randomByte());
        reply = std::move(noisy);
    }
    return FaultyReply {std::move(reply), has(meterAddress, FaultKind::Slow)};
}

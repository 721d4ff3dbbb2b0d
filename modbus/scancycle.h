#pragma once

// One scan cycle: every ticked device slot, in order, is asked once for its block of holding
// registers, and the words of each verified reply go to that slot's column; then every meter of
// the line beyond the slots, in turn, with the same checks. The same on every
// link and framing. What the cycle needs
// of the window comes through ScanConsole, so the cycle can run without one.

#include <QList>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "meters/meters.h"
#include "meters/metertype.h"
#include "modbus/exchange.h"
#include "modbus/framing.h"
#include "modbus/readframes.h"
#include "modbus/replywait.h"

namespace meterlog {

class Link;

// The longest a device may take to answer, unless the operator sets another limit.
inline constexpr std::chrono::milliseconds defaultReplyLimit {500};

// The marks a slot's check box shows while a cycle runs and after it.
enum class SlotMark {
    Asking, // its turn has begun
    Failed, // nothing usable came back, or no request could be sent
    Done, // the cycle has ended
};

// What became of one slot's turn, for whoever keeps count.
struct SlotReport
{
    SlotOutcome outcome = SlotOutcome::Skipped;
    std::optional<std::uint8_t> device; // the address asked, once the inputs gave one
    std::uint8_t exceptionCode = 0; // with SlotOutcome::Exception
};

// What the cycle reads from and shows in the window.
class ScanConsole
{
public:
    virtual ~ScanConsole() = default;
    // The meters of the line, the window's slots first: the cycle asks them in this order.
    virtual int meterCount() const { return slotCount; }
    virtual bool slotTicked(int slot) const = 0;
    // Whether a ticked slot's meter is asked in this scan; one that is not keeps what it has.
    virtual bool slotDue(int /*slot*/) { return true; }
    // The slot's own reply limit, where its meter has one.
    virtual std::optional<std::chrono::milliseconds> replyLimit(int /*slot*/) const
    {
        return std::nullopt;
    }
    virtual QString deviceAddressText(int slot) const = 0;
    virtual QString startAddressText() const = 0;
    virtual QString registerCountText() const = 0;
    // The function code the range is read with.
    virtual std::uint8_t readFunction() const { return readHoldingRegisters; }
    // The type of a slot that reads its type's blocks instead of the range; null for the
    // default type.
    virtual const MeterType *typedMeter(int /*slot*/) const { return nullptr; }
    // Every block's words, in order, after a typed slot's turn in which each was verified.
    virtual void storeTypedWords(int /*slot*/, const QList<QList<std::uint16_t>> & /*blocks*/) { }
    virtual void showSlotMark(int slot, SlotMark mark) = 0;
    // The words of a verified reply to `request`.
    virtual void storeRegisters(
        int slot, const ReadRequest &request, const QList<std::uint16_t> &words)
        = 0;
    // Every slot's turn ends here (one not ticked as Skipped, one not due as Resting), unless the
    // cycle was cancelled.
    virtual void reportSlot(int slot, const SlotReport &report) = 0;
};

struct ScanResult
{
    std::vector<SlotOutcome> outcomes; // one a meter of the line
    bool cancelled = false;
};

// Runs one cycle over `link`, its requests and replies framed by `framing`, waiting up to
// `replyLimit` for each reply. Returns early, touching neither the console nor the link again,
// when `cancel` fires during a wait.
ScanResult runScanCycle(ScanConsole &console, Link &link, Framing &framing,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit = defaultReplyLimit);

} // namespace meterlog

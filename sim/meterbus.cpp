#include "sim/meterbus.h"

#include <algorithm>

MeterBus::MeterBus(const SimOptions &options, lineTiming::TimePoint start)
    : m_start(start)
    , m_frozenTime(options.frozenTime)
    , m_paced(options.paced)
    , m_turnaround(m_paced ? options.turnaround : options.turnaround.zero())
    , m_faults(options.seed)
    , m_meterCount(options.meterCount)
    , m_types(options.meterTypes, options.meterCount)
{
    for (const MeterFault &fault : options.faults)
        m_faults.add(fault.meterAddress, fault.kind);
}

MeterAnswer MeterBus::answer(const ReceivedFrame &frame, lineTiming::TimePoint now)
{
    // Values are taken when the meter answers, as a real one samples its latest measurement.
    const meterModel::Seconds sinceStart
        = m_frozenTime ? meterModel::Seconds(0) : meterModel::Seconds(now - m_start);
    MeterAnswer answer;
    answer.handling = answerRequest(frame.bytes, sinceStart, m_meterCount,
        [this](int address, int function, int start, int count, meterModel::Seconds at) {
            return m_types.words(address, function, start, count, at);
        });
    answer.overflowed = frame.overflowed;
    if (frame.overflowed)
        answer.handling.reply.clear();
    if (answer.handling.reply.empty())
        return answer;
    const int address = answer.handling.address;
    answer.faults = m_faults.describe(address);
    auto faulty = m_faults.apply(address, answer.handling.function, answer.handling.reply);
    if (!faulty)
        return answer;
    const std::chrono::duration<double, std::milli> pause
        = faulty->slow ? lineTiming::slowReplyDelay : m_turnaround;
    answer.startAt = std::max(
        now, frame.wireEnd + std::chrono::duration_cast<lineTiming::Clock::duration>(pause));
    answer.reply = std::move(faulty->bytes);
    answer.dropsConnection = faulty->dropsConnection;
    return answer;
}

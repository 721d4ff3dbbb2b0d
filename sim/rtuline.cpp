#include "sim/rtuline.h"

#include <utility>

RtuLine::RtuLine(MeterBus &meters, RequestLog &log)
    : m_meters(meters)
    , m_log(log)
    , m_transmitter(meters.paced())
{ }

void RtuLine::attach(int fd, std::string origin)
{
    m_streams.insert_or_assign(fd, Stream {std::move(origin), FrameAssembler(m_meters.paced())});
}

void RtuLine::detach(int fd)
{
    m_streams.erase(fd);
    m_transmitter.forget(fd);
    std::erase(m_dropped, fd);
}

void RtuLine::receive(int fd, std::span<const std::uint8_t> bytes, lineTiming::TimePoint now)
{
    const auto stream = m_streams.find(fd);
    if (stream == m_streams.end())
        return;
    // A frame whose silence ran out before these bytes came ends before they are looked at.
    answerCompleteFrame(fd, stream->second, now);
    stream->second.assembler.receive(bytes, now);
}

void RtuLine::service(lineTiming::TimePoint now)
{
    for (auto &[fd, stream] : m_streams)
        answerCompleteFrame(fd, stream, now);
    m_transmitter.sendDue(now);
}

void RtuLine::answerCompleteFrame(int fd, Stream &stream, lineTiming::TimePoint now)
{
    const auto frame = stream.assembler.takeCompleteFrame(now);
    if (!frame)
        return;
    MeterAnswer answer = m_meters.answer(*frame, now);
    std::size_t sentBytes = 0;
    if (answer.dropsConnection) {
        m_dropped.push_back(fd);
    } else if (!answer.reply.empty()) {
        const std::size_t size = answer.reply.size();
        if (m_transmitter.schedule(std::move(answer.reply), answer.startAt, fd))
            sentBytes = size;
    }
    m_log.request(now, stream.origin, answer, sentBytes);
}

std::optional<lineTiming::TimePoint> RtuLine::deadline() const
{
    std::optional<lineTiming::TimePoint> due = m_transmitter.deadline();
    for (const auto &[fd, stream] : m_streams)
        due = lineTiming::earliest(due, stream.assembler.deadline());
    return due;
}

std::vector<int> RtuLine::takeDropped()
{
    return std::exchange(m_dropped, {});
}

#include "sim/requestlog.h"

#include <cstdio>

namespace {

std::string outcomeText(const RequestHandling &handling, bool overflowed)
{
    using Outcome = RequestHandling::Outcome;
    if (overflowed)
        return "ignored: longer than a frame can be";
    switch (handling.outcome) {
    case Outcome::TooShort:
        return "ignored: too short";
    case Outcome::BadCrc:
        return "ignored: bad CRC";
    case Outcome::Broadcast:
        return "ignored: broadcast";
    case Outcome::OtherAddress:
        return "ignored: no meter at this address";
    case Outcome::Registers:
        return "registers";
    case Outcome::Exception:
        return (handling.exceptionCode < 10 ? "exception 0" : "exception ")
            + std::to_string(handling.exceptionCode);
    }
    return {};
}

} // namespace

RequestLog::RequestLog(bool enabled, lineTiming::TimePoint start)
    : m_enabled(enabled)
    , m_start(start)
{ }

void RequestLog::request(lineTiming::TimePoint at, std::string_view origin,
    const MeterAnswer &answer, std::size_t sentBytes)
{
    if (!m_enabled)
        return;
    const RequestHandling &handling = answer.handling;
    std::string text = origin.empty() ? std::string() : std::string(origin) + ": ";
    text += "addr=" + std::to_string(handling.address) + " fc=" + std::to_string(handling.function)
        + " start=" + std::to_string(handling.start) + " count=" + std::to_string(handling.count)
        + " -> " + outcomeText(handling, answer.overflowed);
    if (!answer.faults.empty())
        text += " [fault " + answer.faults + "]";
    if (answer.dropsConnection)
        text += ", connection closed";
    else if (!handling.reply.empty())
        text += sentBytes > 0 ? ", sent " + std::to_string(sentBytes) + " bytes" : ", nothing sent";
    writeLine(at, text);
}

void RequestLog::event(lineTiming::TimePoint at, std::string_view text)
{
    if (m_enabled)
        writeLine(at, std::string(text));
}

void RequestLog::writeLine(lineTiming::TimePoint at, const std::string &text)
{
    const std::chrono::duration<double> sinceStart = at - m_start;
    std::fprintf(stderr, "%.6f %s\n", sinceStart.count(), text.c_str());
}

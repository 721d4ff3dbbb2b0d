// The optional log on stderr: one line per request frame and how it was handled.
#pragma once

#include "linetiming.h"
#include "meterresponder.h"

#include <string>
#include <string_view>

class RequestLog
{
public:
    RequestLog(bool enabled, lineTiming::TimePoint start);

    // sentBytes is what was queued for the line after faults, 0 when the meter kept quiet.
    void request(lineTiming::TimePoint at, const RequestHandling &handling, bool overflowed,
        const std::string &faults, std::size_t sentBytes);
    void event(lineTiming::TimePoint at, std::string_view text);

private:
    void writeLine(lineTiming::TimePoint at, const std::string &text);

    bool m_enabled;
    lineTiming::TimePoint m_start;
};

// The optional log on stderr: one line per request frame and how it was handled, and what happens
// to the link.
#pragma once

#include "sim/linetiming.h"
#include "sim/meterbus.h"

#include <string>
#include <string_view>

class RequestLog
{
public:
    RequestLog(bool enabled, lineTiming::TimePoint start);

    // origin names the request's network client, and is empty on the pseudo-terminal. sentBytes
    // is what went on the line after faults, 0 when the meter kept quiet.
    void request(lineTiming::TimePoint at, std::string_view origin, const MeterAnswer &answer,
        std::size_t sentBytes);
    void event(lineTiming::TimePoint at, std::string_view text);

private:
    void writeLine(lineTiming::TimePoint at, const std::string &text);

    bool m_enabled;
    lineTiming::TimePoint m_start;
};

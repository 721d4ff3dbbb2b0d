#pragma once

// How far apart a broker link's attempts are: the pause after a failed attempt doubles from the
// first to the longest, and starts again from the first when a connection that was accepted ends.
// As given here, a broker that stays down is asked about once a minute, never hammered; a test
// that watches the pacing asks for pauses it need not sit through.

#include <chrono>

namespace meterlog {

struct BrokerPacing
{
    std::chrono::milliseconds firstPause {1000};
    std::chrono::milliseconds longestPause {60000};
};

} // namespace meterlog

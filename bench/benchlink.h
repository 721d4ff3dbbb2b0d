#pragma once

// Harnesses wait for their link: a network one connects in the background.

#include <chrono>

namespace meterlog {
class Link;
}

namespace meterlog::bench {

// Runs events until `link` is open or `limit` has passed; true when it is open.
bool waitUntilOpen(Link &link, std::chrono::milliseconds limit = std::chrono::seconds(3));

} // namespace meterlog::bench

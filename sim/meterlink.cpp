#include "sim/meterlink.h"

#include <array>
#include <cerrno>
#include <unistd.h>

namespace {
constexpr std::size_t readChunkSize = 256;
} // namespace

bool readAvailable(int fd, const std::function<void(std::span<const std::uint8_t>)> &take)
{
    std::array<std::uint8_t, readChunkSize> chunk {};
    for (;;) {
        const ssize_t received = ::read(fd, chunk.data(), chunk.size());
        if (received > 0) {
            take(std::span(chunk.data(), static_cast<std::size_t>(received)));
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        return received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

bool isReadable(std::span<const pollfd> entries, int fd)
{
    for (const pollfd &entry : entries) {
        if (entry.fd == fd)
            return (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
    return false;
}

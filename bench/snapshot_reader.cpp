// A reader of the snapshot file as another program would be one: open, read, close, as fast as
// it can, counting every read that finds the file missing, empty or not one whole line. It waits
// for the file to exist before it starts counting.
//
// Usage: snapshot_reader FILE SECONDS

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "bench/benchfigures.h"

namespace {

constexpr std::chrono::milliseconds firstFileLimit {10000};
constexpr std::chrono::milliseconds firstFilePoll {1};
constexpr int snapshotFields = 6;

// One line: six comma-separated fields and CR LF at its end, nowhere else.
bool isWholeLine(const std::string &text)
{
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return false;
    const std::string line = text.substr(0, text.size() - 2);
    if (line.find_first_of("\r\n") != std::string::npos)
        return false;
    int commas = 0;
    for (const char c : line)
        commas += c == ',';
    return commas == snapshotFields - 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: snapshot_reader FILE SECONDS\n");
        return 2;
    }
    const char *path = argv[1];
    using Clock = std::chrono::steady_clock;
    const auto waitUntil = Clock::now() + firstFileLimit;
    while (access(path, F_OK) != 0) {
        if (Clock::now() > waitUntil) {
            std::fprintf(stderr, "%s never appeared\n", path);
            return 1;
        }
        std::this_thread::sleep_for(firstFilePoll);
    }

    long reads = 0, missing = 0, empty = 0, partial = 0;
    const auto stopAt = Clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    char buffer[512];
    while (Clock::now() < stopAt) {
        ++reads;
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            missing += errno == ENOENT;
            continue;
        }
        std::string text;
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, std::size_t(got));
        close(fd);
        if (text.empty())
            ++empty;
        else if (!isWholeLine(text))
            ++partial;
    }
    using meterlog::bench::printFigure;
    printFigure("reads", double(reads), 0);
    printFigure("missing", double(missing), 0);
    printFigure("empty", double(empty), 0);
    printFigure("partial", double(partial), 0);
    return 0;
}

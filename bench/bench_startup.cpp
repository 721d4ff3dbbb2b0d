// The time from starting meterlog to its first snapshot line, and its resident memory at that
// moment. meterlog is started with --folder FOLDER, where it finds com9 and writes
// `datamirab.txt`; the file is seen through inotify when it is renamed into place.
//
// Usage: bench_startup PROGRAM FOLDER RUNS

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/benchfigures.h"

extern char **environ;

namespace {

constexpr int firstLineLimitMs = 10000;
const std::string snapshotName = "datamirab.txt";

// Waits for the snapshot file to be renamed or written into place; false after the limit.
bool waitForSnapshot(int watch)
{
    const auto giveUpAt
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(firstLineLimitMs);
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            giveUpAt - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd ready {watch, POLLIN, 0};
        if (poll(&ready, 1, int(left.count())) <= 0)
            continue;
        const ssize_t got = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->len > 0 && snapshotName == event->name)
                return true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_startup PROGRAM FOLDER RUNS\n");
        return 2;
    }
    const std::string folder = argv[2];
    const int runs = std::atoi(argv[3]);
    std::vector<double> milliseconds, residentKiB;
    for (int run = 0; run < runs; ++run) {
        unlink((folder + "/" + snapshotName).c_str());
        const int watch = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
        pid_t pid = 0;
        std::string folderOption = "--folder";
        char *const childArgs[] = {argv[1], folderOption.data(), argv[2], nullptr};
        const auto start = std::chrono::steady_clock::now();
        if (posix_spawn(&pid, argv[1], nullptr, nullptr, childArgs, environ) != 0) {
            std::fprintf(stderr, "cannot start %s\n", argv[1]);
            return 1;
        }
        const bool seen = waitForSnapshot(watch);
        const auto end = std::chrono::steady_clock::now();
        const long kib = meterlog::bench::residentKiB(pid);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        close(watch);
        if (!seen) {
            std::fprintf(stderr, "no snapshot line within %d ms\n", firstLineLimitMs);
            return 1;
        }
        milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        residentKiB.push_back(double(kib));
    }
    using namespace meterlog::bench;
    printFigure("runs", runs, 0);
    printFigure("first_line_median_ms", median(milliseconds), 1);
    printFigure("first_line_max_ms", percentile(milliseconds, 1.0), 1);
    printFigure("rss_first_line_kib", median(residentKiB), 0);
    return 0;
}

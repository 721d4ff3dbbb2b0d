// Watches the snapshot files of several meterlog processes for a while and tells how regularly
// each is replaced: replacements a second, the longest gap between two, and the tick period (the
// gap between one tick's pair of summaries and the next), from which the scan time follows. The
// mean tick period counts the rare long scans that the median leaves out (a line whose dead
// meters are asked now and then).
//
// Usage: snapshot_pulse SECONDS FOLDER...

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

#include "bench/benchfigures.h"

namespace {

using Clock = std::chrono::steady_clock;
// The two summaries of one tick replace the file within a millisecond of each other; a longer
// gap is the time between ticks.
constexpr double tickGapMs = 20.0;

struct Watched
{
    std::vector<double> replacedAtMs;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: snapshot_pulse SECONDS FOLDER...\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const int notify = inotify_init1(IN_NONBLOCK);
    std::vector<Watched> folders(std::size_t(argc - 2));
    std::vector<int> watches;
    for (int i = 2; i < argc; ++i)
        watches.push_back(inotify_add_watch(notify, argv[i], IN_MOVED_TO | IN_CLOSE_WRITE));

    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    alignas(inotify_event) char buffer[64 * 1024];
    while (Clock::now() < end) {
        pollfd readable {notify, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (poll(&readable, 1, int(left.count()) + 1) <= 0)
            continue;
        const double nowMs
            = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const auto got = read(notify, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->len > 0 && std::strcmp(event->name, "datamirab.txt") == 0) {
                for (std::size_t w = 0; w < watches.size(); ++w) {
                    if (watches[w] == event->wd)
                        folders[w].replacedAtMs.push_back(nowMs);
                }
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }

    double fewestPerSecond = 1e9, longestGap = 0;
    std::vector<double> tickPeriods, meanTickPeriods;
    for (auto &folder : folders) {
        const auto &times = folder.replacedAtMs;
        fewestPerSecond = std::min(fewestPerSecond, double(times.size()) / seconds);
        std::vector<double> ownTicks;
        for (std::size_t i = 1; i < times.size(); ++i) {
            const double gap = times[i] - times[i - 1];
            longestGap = std::max(longestGap, gap);
            if (gap > tickGapMs)
                ownTicks.push_back(gap);
        }
        if (times.empty())
            longestGap = std::max(longestGap, seconds * 1000);
        double sum = 0;
        for (const double tick : ownTicks)
            sum += tick;
        meanTickPeriods.push_back(ownTicks.empty() ? 0 : sum / double(ownTicks.size()));
        tickPeriods.push_back(meterlog::bench::median(ownTicks));
    }
    using namespace meterlog::bench;
    printFigure("files", double(folders.size()), 0);
    printFigure("fewest_replacements_per_second", fewestPerSecond, 1);
    printFigure("longest_gap_ms", longestGap, 1);
    printFigure("median_tick_period_ms", median(tickPeriods));
    printFigure("longest_tick_period_ms", percentile(tickPeriods, 1.0));
    printFigure("mean_tick_period_ms", median(meanTickPeriods));
    return 0;
}

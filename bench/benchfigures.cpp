#include "bench/benchfigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace meterlog::bench {

double percentile(std::vector<double> &samples, double share)
{
    if (samples.empty())
        return std::nan("");
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least `share` of all samples at or below it.
    const auto rank = std::size_t(std::ceil(share * double(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

double median(std::vector<double> &samples)
{
    return percentile(samples, 0.5);
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream fields(line.substr(6));
            long kib = -1;
            fields >> kib;
            return kib;
        }
    }
    return -1;
}

void printFigure(const std::string &key, double value, int decimals)
{
    std::printf("%s=%.*f\n", key.c_str(), decimals, value);
    std::fflush(stdout);
}

} // namespace meterlog::bench

#pragma once

// What every benchmark harness needs: order statistics over timings, the resident memory of a
// process, and one way of printing figures (`key=value` pairs) that bench/run reads back.

#include <string>
#include <sys/types.h>
#include <vector>

namespace meterlog::bench {

// The value below which `share` (0..1) of the samples lie; the samples are sorted in place.
double percentile(std::vector<double> &samples, double share);
double median(std::vector<double> &samples);

// Resident memory in KiB from /proc, or -1 when the process is not there.
long residentKiB(pid_t pid);

// Prints `key=value` with a fixed number of decimals, on a line of its own.
void printFigure(const std::string &key, double value, int decimals = 3);

} // namespace meterlog::bench

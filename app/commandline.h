#pragma once

// meterlog's command line. Each option replaces one value that start-up would otherwise set; a
// bad option or value ends the program before anything else happens.

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>
#include <vector>

#include "app/startvalues.h"
#include "meters/linemeter.h"
#include "publish/metricsserver.h"
#include "publish/mqtttarget.h"
#include "readings/trendtrace.h"

namespace meterlog {

// What --scan asks for.
struct BusScanOptions
{
    QList<int> addresses;
    // The first question's limit; by default as the line's speed asks.
    std::optional<std::chrono::milliseconds> replyLimit;
    // Types to recognise meters by besides the built-in ones (--meter-type).
    QList<MeterType> extraTypes;
    // Where the line file goes (--write).
    std::optional<QString> lineFile;
};

struct ProgramOptions
{
    StartValues start;
    // The line file the run was described in, when it was.
    std::optional<QString> lineFile;
    // Its meters, in order; the first five take the window's slots.
    std::vector<LineMeter> meters;
    // Where the snapshot file and the comN links are; checked to exist and take files.
    std::optional<QString> folder;
    bool headless = false; // no window: for a service
    // The readings window opens with the main window, its chart over this span.
    std::optional<Span> readings;
    bool trace = false; // every frame in the log
    // History files: none unless a folder is given.
    std::optional<QString> historyFolder;
    std::chrono::seconds historyEvery {10};
    std::optional<int> historyDays;
    std::optional<MqttTarget> mqtt;
    // Home Assistant's discovery prefix, when its configs are published.
    std::optional<QString> mqttDiscovery;
    // Where Prometheus scrapes the readings, when it does.
    std::optional<MetricsAddress> metrics;
    // Find the meters instead of polling them.
    std::optional<BusScanOptions> scan;
};

// The program ends at once: help or version (exit code 0, the text goes to stdout) or a bad
// command line (exit code 2, one line for stderr).
struct EarlyExit
{
    int exitCode = 0;
    QString text;
};

inline constexpr int badCommandLineExitCode = 2;

// `arguments` as main() got them, the program's name first.
std::variant<ProgramOptions, EarlyExit> parseCommandLine(const QStringList &arguments);

} // namespace meterlog

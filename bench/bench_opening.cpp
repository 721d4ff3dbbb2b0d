// How long the readings window takes to show the history files in FOLDER, rows EVERY seconds
// apart: from opening to the last day on its chart (read on a thread of its own), and the longest
// the window's own thread was busy meanwhile, which is how long polling waits. Repeated RUNS times,
// each with a window of its own.
//
// Usage: bench_opening FOLDER EVERY RUNS

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/benchfigures.h"
#include "readings/readingswindow.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_opening FOLDER EVERY RUNS\n");
        return 2;
    }
    const meterlog::HistorySource history {
        QString::fromLocal8Bit(argv[1]), std::chrono::seconds(std::atoi(argv[2]))};
    std::vector<double> toChart, longestStall;
    for (int run = 0; run < std::atoi(argv[3]); ++run) {
        meterlog::ReadingsWindow window({}, history);
        window.setSpan(meterlog::Span::OneDay);
        QElapsedTimer opening, sinceBeat;
        opening.start();
        window.show();
        double stallMs = double(opening.nsecsElapsed()) / 1e6;
        // A beat every millisecond on the window's thread: the longest time between two is the
        // longest the thread was kept from its events (and a tick from polling).
        QTimer beat;
        beat.setInterval(1);
        QObject::connect(&beat, &QTimer::timeout, &beat, [&] {
            stallMs = std::max(stallMs, double(sinceBeat.nsecsElapsed()) / 1e6);
            sinceBeat.start();
        });
        sinceBeat.start();
        beat.start();
        QEventLoop untilRead;
        QObject::connect(&window, &meterlog::ReadingsWindow::historyRead, &untilRead,
            [&] { QTimer::singleShot(5, &untilRead, &QEventLoop::quit); });
        untilRead.exec();
        toChart.push_back(double(opening.nsecsElapsed()) / 1e6 - 5);
        longestStall.push_back(stallMs);
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    meterlog::bench::printFigure("opening_to_chart_median_ms", median(toChart), 1);
    meterlog::bench::printFigure("opening_longest_stall_median_ms", median(longestStall), 1);
    return 0;
}

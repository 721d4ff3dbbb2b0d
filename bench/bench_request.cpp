// Per-request cost through the window's own scan routine: only slot 0 is ticked, so one scan is
// one request of the window's block (device 1, 12 registers from 4011) and its words in the grid.
//
// Usage: bench_request FOLDER REQUESTS quiet|back-to-back [PORT]
//   quiet         the line has been silent for a few milliseconds before each timed request, so
//                 the time runs from handing the request to the port to the words in the grid;
//   back-to-back  every request follows the last reply at once and includes the frame gap the
//                 master keeps before it may send.
//   PORT          what the port box is given, such as tcp://127.0.0.1:1502 (default: com9 in
//                 FOLDER).

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "app/form1.h"
#include "bench/benchfigures.h"
#include "bench/benchwindow.h"
#include "table/registergrid.h"

namespace {
// Longer than the 1.75 ms frame gap, so the master finds the line quiet and sends at once.
constexpr std::chrono::milliseconds quietLine {3};
constexpr int firstRow = 1;
constexpr int slotColumn = meterlog::RegisterGrid::firstSlotColumn;
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_request FOLDER REQUESTS quiet|back-to-back [PORT]\n");
        return 2;
    }
    const int requests = std::atoi(argv[2]);
    const bool quiet = std::strcmp(argv[3], "quiet") == 0;
    meterlog::StartValues start;
    if (argc > 4)
        start.port = QString::fromLocal8Bit(argv[4]);
    meterlog::Form1 form(QString::fromLocal8Bit(argv[1]), start);
    if (!meterlog::bench::loadOnMeters(form, argv[1]))
        return 1;
    form.Timer3->stop();
    for (int slot = 1; slot < meterlog::slotCount; ++slot)
        form.cheAID[slot]->setCheckState(Qt::Unchecked);

    std::vector<double> milliseconds;
    milliseconds.reserve(requests);
    int verified = 0;
    for (int i = 0; i < requests; ++i) {
        form.tabel->setCellText(firstRow, slotColumn, QString());
        if (quiet)
            std::this_thread::sleep_for(quietLine);
        QElapsedTimer clock;
        clock.start();
        form.cmdTest_Click();
        milliseconds.push_back(double(clock.nsecsElapsed()) / 1e6);
        verified += !form.tabel->cellText(firstRow, slotColumn).value_or(QString()).isEmpty();
    }
    using namespace meterlog::bench;
    printFigure("requests", requests, 0);
    printFigure("verified", verified, 0);
    printFigure("median_ms", median(milliseconds));
    printFigure("p10_ms", percentile(milliseconds, 0.1));
    printFigure("p90_ms", percentile(milliseconds, 0.9));
    return verified == requests ? 0 : 1;
}

// Resident memory of the window over many polls: after start-up, after a first poll, and every
// so often up to the last, each poll being what a tick does (one scan, then the summary with its
// snapshot file), against whatever answers on `com9` in the folder given.
//
// Usage: bench_footprint FOLDER POLLS

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/form1.h"
#include "bench/benchfigures.h"
#include "bench/benchwindow.h"

namespace {
constexpr int reportEvery = 1000;
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_footprint FOLDER POLLS\n");
        return 2;
    }
    const int polls = std::atoi(argv[2]);
    meterlog::Form1 form(QString::fromLocal8Bit(argv[1]));
    if (!meterlog::bench::loadOnMeters(form, argv[1]))
        return 1;
    form.Timer3->stop();
    form.show();
    QCoreApplication::processEvents();
    using namespace meterlog::bench;
    const pid_t self = getpid();
    printFigure("rss_startup_kib", double(residentKiB(self)), 0);
    for (int poll = 1; poll <= polls; ++poll) {
        form.cmdTest_Click();
        form.Command1_Click();
        if (poll == 1 || poll % reportEvery == 0 || poll == polls)
            printFigure("rss_after_" + std::to_string(poll) + "_kib", double(residentKiB(self)), 0);
    }
    return 0;
}

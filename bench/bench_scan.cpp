// Times scan cycles through the window's own routine against whatever meters answer on the
// `com9` in the folder given.
//
// Usage: bench_scan FOLDER [SCANS]

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "benchwindow.h"
#include "form1.h"
#include "registergrid.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_scan FOLDER [SCANS]\n");
        return 2;
    }
    const int scans = argc > 2 ? std::atoi(argv[2]) : 100;
    meterlog::Form1 form(QString::fromLocal8Bit(argv[1]));
    if (!meterlog::bench::loadOnMeters(form, argv[1]))
        return 1;
    form.Timer3->stop();

    std::vector<double> milliseconds;
    int filledColumns = 0;
    for (int i = 0; i < scans; ++i) {
        for (int column = 2; column < 7; ++column)
            form.tabel->setCellText(1, column, QString());
        QElapsedTimer clock;
        clock.start();
        form.cmdTest_Click();
        milliseconds.push_back(clock.nsecsElapsed() / 1e6);
        for (int column = 2; column < 7; ++column)
            filledColumns += !form.tabel->cellText(1, column).value_or(QString()).isEmpty();
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("scans %d  median %.2f ms  min %.2f ms  max %.2f ms  verified slots %d of %d\n",
        scans, milliseconds[milliseconds.size() / 2], milliseconds.front(), milliseconds.back(),
        filledColumns, scans * 5);
    return 0;
}

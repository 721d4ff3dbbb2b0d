// Times scan cycles through the window's own routine against whatever meters answer on the
// `com9` in the folder given; with TYPE, every slot of that built-in meter type.
//
// Usage: bench_scan FOLDER [SCANS [TYPE]]

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/form1.h"
#include "bench/benchwindow.h"
#include "meters/metertypefile.h"
#include "table/registergrid.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_scan FOLDER [SCANS [TYPE]]\n");
        return 2;
    }
    const int scans = argc > 2 ? std::atoi(argv[2]) : 100;
    meterlog::StartValues start;
    if (argc > 3) {
        const auto type = meterlog::findMeterType(QString::fromLocal8Bit(argv[3]));
        if (!std::holds_alternative<meterlog::MeterType>(type)) {
            std::fprintf(stderr, "%s\n", qPrintable(std::get<QString>(type)));
            return 2;
        }
        start.meterTypes.fill(std::get<meterlog::MeterType>(type));
    }
    meterlog::Form1 form(QString::fromLocal8Bit(argv[1]), start);
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

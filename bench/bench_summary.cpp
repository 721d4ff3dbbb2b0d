// The cost of one summary with its snapshot-file replacement, through the window's own routine,
// after one scan has filled the grid from whatever answers on `com9` in the folder given. The
// snapshot file is written in that folder.
//
// Usage: bench_summary FOLDER SUMMARIES

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <vector>

#include "app/form1.h"
#include "bench/benchfigures.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_summary FOLDER SUMMARIES\n");
        return 2;
    }
    const int summaries = std::atoi(argv[2]);
    meterlog::Form1 form(QString::fromLocal8Bit(argv[1]));
    form.Form_Load();
    form.Timer3->stop();
    // Real readings make the summary do its real work; without meters it still writes the file.
    if (form.port().portOpen())
        form.cmdTest_Click();

    std::vector<double> milliseconds;
    milliseconds.reserve(summaries);
    for (int i = 0; i < summaries; ++i) {
        QElapsedTimer clock;
        clock.start();
        form.Command1_Click();
        milliseconds.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    using namespace meterlog::bench;
    printFigure("summaries", summaries, 0);
    printFigure("median_ms", median(milliseconds));
    printFigure("p99_ms", percentile(milliseconds, 0.99));
    printFigure("max_ms", percentile(milliseconds, 1.0));
    return 0;
}

// The poll timer's period in mode "Auto": the window as the program shows it, polling whatever
// answers on `com9` in the folder given. Each tick is seen when its timer event reaches Timer3,
// before the window's own routine runs, and again when that routine has returned.
//
// Usage: bench_ticks FOLDER TICKS

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <vector>

#include "app/form1.h"
#include "bench/benchfigures.h"
#include "bench/benchwindow.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Notes when a timer event reaches the poll timer, before the tick's work starts.
class TickStarts : public QObject
{
public:
    std::vector<Clock::time_point> starts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer)
            starts.push_back(Clock::now());
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_ticks FOLDER TICKS\n");
        return 2;
    }
    const std::size_t ticks = std::size_t(std::atoi(argv[2]));
    meterlog::Form1 form(QString::fromLocal8Bit(argv[1]));
    if (!meterlog::bench::loadOnMeters(form, argv[1]))
        return 1;
    form.show();

    TickStarts tickStarts;
    form.Timer3->installEventFilter(&tickStarts);
    std::vector<Clock::time_point> ends;
    // Connected after the window's own routine, so this runs when the tick's work is done.
    QObject::connect(form.Timer3, &QTimer::timeout, &app, [&] {
        ends.push_back(Clock::now());
        if (ends.size() > ticks)
            app.quit();
    });
    app.exec();

    std::vector<double> periods, work;
    for (std::size_t i = 1; i < tickStarts.starts.size(); ++i)
        periods.push_back(millisecondsBetween(tickStarts.starts[i - 1], tickStarts.starts[i]));
    for (std::size_t i = 0; i < ends.size() && i < tickStarts.starts.size(); ++i)
        work.push_back(millisecondsBetween(tickStarts.starts[i], ends[i]));

    using namespace meterlog::bench;
    printFigure("ticks", double(periods.size()), 0);
    printFigure("period_median_ms", median(periods));
    printFigure("period_min_ms", percentile(periods, 0.0));
    printFigure("period_p10_ms", percentile(periods, 0.1));
    printFigure("period_p90_ms", percentile(periods, 0.9));
    printFigure("period_max_ms", percentile(periods, 1.0));
    printFigure("work_median_ms", median(work));
    return 0;
}

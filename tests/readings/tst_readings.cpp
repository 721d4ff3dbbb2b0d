// The readings window: thinned curves that hold only sent values, gaps that break the line, the
// table's rows and states, live summaries and the spans, the history read at opening, and how
// the window is opened and closed.

#include <QAction>
#include <QApplication>
#include <QCategoryAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include <cmath>

#include "app/readingsmenu.h"
#include "meters/metertypefile.h"
#include "publish/historyfiles.h"
#include "readings/readingswindow.h"
#include "tests/support/readingsamples.h"

using namespace meterlog;
using namespace std::chrono_literals;

namespace {

// A value that tells when it was sent.
double sentAt(double ms)
{
    return std::fmod(ms / 1000, 977) + 1;
}

const FieldKey m1Power {0, powerField};
const FieldKey m2Power {1, powerField};
const FieldKey m5Frequency {4, frequencyField};

QList<QPointF> allPoints(const QList<QLineSeries *> &lines)
{
    QList<QPointF> points;
    for (const auto *line : lines)
        points << line->points();
    return points;
}

// Whether a run of lines draws across `atMs`: one line with points on both sides of it.
bool drawnAcross(const QList<QList<QPointF>> &runs, double atMs)
{
    return std::any_of(runs.begin(), runs.end(),
        [&](const QList<QPointF> &run) { return run.first().x() < atMs && run.last().x() > atMs; });
}

QList<QList<QPointF>> runsOf(const QList<QLineSeries *> &lines)
{
    QList<QList<QPointF>> runs;
    for (const auto *line : lines) {
        if (line->count() > 0)
            runs << line->points();
    }
    return runs;
}

const MeterType &builtIn(const QString &name)
{
    return *std::find_if(builtInMeterTypes().begin(), builtInMeterTypes().end(),
        [&](const MeterType &type) { return type.name == name; });
}

} // namespace

class ReadingsTest : public QObject
{
    Q_OBJECT

private slots:
    void aDayIsThinnedToValuesThatWereSent();
    void gapsBreakTheLineInEverySpan_data();
    void gapsBreakTheLineInEverySpan();
    void rowsSayWhatEachMeterLastSentAndWhetherItIsStale();
    void liveSummariesAreDrawnWithTheirGaps();
    void historyFillsTheChartAtOpening();
    void theMenuOpensTheWindowAndTheMainWindowClosesIt();
};

void ReadingsTest::aDayIsThinnedToValuesThatWereSent()
{
    // Ten samples a second for a day.
    TrendTrace trace;
    const qint64 start = QDateTime(QDate(2026, 12, 8), QTime(0, 0)).toMSecsSinceEpoch();
    const qint64 end = start + 24 * 3600 * 1000;
    for (qint64 at = start; at < end; at += 100)
        trace.add(at, sentAt(double(at)));
    for (const Span span : spans) {
        const auto runs = trace.runs(span, end);
        QCOMPARE(runs.size(), 1);
        const auto &points = runs.first();
        QVERIFY2(points.size() <= 2 * bucketsPerSpan, qPrintable(QString::number(points.size())));
        QVERIFY(points.size() >= bucketsPerSpan / 2);
        QVERIFY(points.first().x() >= double(end - spanLength(span).count()));
        for (qsizetype i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i].y(), sentAt(points[i].x()));
            if (i > 0)
                QVERIFY(points[i].x() > points[i - 1].x());
        }
    }
}

void ReadingsTest::gapsBreakTheLineInEverySpan_data()
{
    QTest::addColumn<bool>("historyFirst");
    QTest::newRow("in time order") << false;
    // The history is read after live samples have come.
    QTest::newRow("older samples added later") << true;
}

void ReadingsTest::gapsBreakTheLineInEverySpan()
{
    QFETCH(bool, historyFirst);
    const qint64 gapAt = QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch();
    for (const Span span : spans) {
        // The gap in the middle of the span, two samples a bucket, nothing known for three.
        const qint64 length = spanLength(span).count(), step = length / bucketsPerSpan / 2;
        const qint64 start = gapAt - length / 2, end = gapAt + length / 2;
        QList<std::pair<qint64, std::optional<double>>> samples;
        for (qint64 at = start; at <= end; at += step) {
            const bool inGap = at >= gapAt && at < gapAt + 3 * step;
            samples.append({at, inGap ? std::nullopt : std::optional(sentAt(double(at)))});
        }
        if (historyFirst)
            std::rotate(samples.begin(), samples.begin() + samples.size() * 2 / 3, samples.end());
        TrendTrace trace;
        for (const auto &[at, value] : samples)
            trace.add(at, value);
        const auto runs = trace.runs(span, end);
        QCOMPARE(runs.size(), 2);
        for (qint64 at = gapAt; at < gapAt + 3 * step; at += step)
            QVERIFY(!drawnAcross(runs, double(at)));
        // Half a span later the gap has left the span.
        trace.add(end + length / 2 + step, 1);
        QCOMPARE(trace.runs(span, end + length / 2 + step).size(), 1);
    }
}

void ReadingsTest::rowsSayWhatEachMeterLastSentAndWhetherItIsStale()
{
    TypedMeters::Types types(slotCount);
    types[2] = builtIn(QStringLiteral("sdm120"));
    ReadingsWindow window(types, std::nullopt);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    Reading reading = readingAt(now, {true, false, true, true, true});
    reading.polled[3] = false;
    MeterFields fields {now, {}};
    for (const auto &field : types[2]->fields)
        fields.values << FieldValue {field.name, std::nullopt};
    // Floats as a meter sends them, shown to the digits a person reads.
    const auto valueOf = [&](const QString &name) -> std::optional<double> & {
        return std::find_if(fields.values.begin(), fields.values.end(), [&](const auto &each) {
            return each.name == name;
        })->value;
    };
    valueOf("voltage_l1") = 229.8153;
    valueOf("power") = 310.51007;
    reading.fields[2] = fields;
    window.takeReading(reading);
    window.show();
    const auto &model = window.model();
    // M1 and M2 power, M3's fields, no M4, M5 power and frequency.
    QCOMPARE(model.rowCount(), 2 + int(types[2]->fields.size()) + 2);
    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return model.data(model.index(row, column), role);
    };
    const auto find = [&](const FieldKey &key) {
        const auto &rows = model.rows();
        return int(std::find_if(rows.begin(), rows.end(), [&](auto &row) { return row.key == key; })
            - rows.begin());
    };
    const int m1 = find(m1Power), m2 = find(m2Power), voltage = find({2, "voltage_l1"}),
              current = find({2, "current_l1"}), frequency = find(m5Frequency);
    QCOMPARE(cell(m1, ReadingsModel::Value).toString(), "1520 kW");
    QCOMPARE(cell(m1, ReadingsModel::Address).toString(), "1");
    QCOMPARE(cell(m1, ReadingsModel::State).toString(), "ok");
    QCOMPARE(cell(m1, ReadingsModel::LastReply).toString(),
        now.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(!cell(m1, ReadingsModel::Value, Qt::ForegroundRole).isValid());
    QCOMPARE(cell(m2, ReadingsModel::State).toString(), "stale");
    QCOMPARE(cell(m2, ReadingsModel::Value, Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
    QCOMPARE(cell(voltage, ReadingsModel::Type).toString(), "sdm120");
    QCOMPARE(cell(voltage, ReadingsModel::Value).toString(), "229.8 V");
    QCOMPARE(cell(find({2, "power"}), ReadingsModel::Value).toString(), "310.5 W");
    QCOMPARE(cell(current, ReadingsModel::Value).toString(), "n/a");
    QCOMPARE(cell(frequency, ReadingsModel::Value).toString(), "50.02 Hz");
    QVERIFY(find({3, powerField}) == model.rowCount());
    // Power and the line's frequency are charted from the start, other fields when ticked.
    QCOMPARE(
        cell(m1, ReadingsModel::Chart, Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    QCOMPARE(cell(frequency, ReadingsModel::Chart, Qt::CheckStateRole).value<Qt::CheckState>(),
        Qt::Checked);
    QCOMPARE(cell(voltage, ReadingsModel::Chart, Qt::CheckStateRole).value<Qt::CheckState>(),
        Qt::Unchecked);
    QVERIFY(window.chart().linesOf({2, "voltage_l1"}).isEmpty());
    window.table().model()->setData(
        model.index(voltage, ReadingsModel::Chart), Qt::Checked, Qt::CheckStateRole);
    const auto voltageLines = window.chart().linesOf({2, "voltage_l1"});
    QCOMPARE(voltageLines.size(), 1);
    QCOMPARE(voltageLines.first()->points(),
        QList<QPointF>({{double(now.toMSecsSinceEpoch()), 229.8153}}));
    QVERIFY(window.chart().axisOf("V"));
    QVERIFY(!window.chart().axisOf("A"));
}

void ReadingsTest::liveSummariesAreDrawnWithTheirGaps()
{
    ReadingsWindow window({}, std::nullopt);
    // A summary a second for a minute up to now; M2 stale for five of them, then a cable pulled
    // for ten: every meter stale.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int second = -60; second <= 0; ++second) {
        auto confirmed = allConfirmed;
        if (second >= -40 && second < -35)
            confirmed[1] = false;
        if (second >= -20 && second < -10)
            confirmed.fill(false);
        Reading reading = readingAt(now.addSecs(second), confirmed);
        // A stale meter keeps the last reply it got.
        for (int meter = 0; meter < slotCount; ++meter) {
            if (!confirmed[meter])
                reading.meters[meter].lastReplyAt = {};
        }
        window.takeReading(reading);
    }
    window.show();
    const auto &chart = window.chart();
    const auto m1 = runsOf(chart.linesOf(m1Power));
    const auto m2 = runsOf(chart.linesOf(m2Power));
    QCOMPARE(m1.size(), 2);
    QCOMPARE(m2.size(), 3);
    const double pulledAt = double(now.addSecs(-15).toMSecsSinceEpoch());
    QVERIFY(!drawnAcross(m1, pulledAt));
    QVERIFY(!drawnAcross(m2, pulledAt));
    QVERIFY(!drawnAcross(m2, double(now.addSecs(-38).toMSecsSinceEpoch())));
    for (const QPointF &point : allPoints(chart.linesOf(m1Power)))
        QCOMPARE(point.y(), 1520.0);
    for (const QPointF &point : allPoints(chart.linesOf(m5Frequency)))
        QCOMPARE(point.y(), 50.02);
    // kW on the left, Hz on the right, against local time.
    QCOMPARE(chart.axisOf("kW")->alignment(), Qt::AlignLeft);
    QCOMPARE(chart.axisOf("Hz")->alignment(), Qt::AlignRight);
    QCOMPARE(chart.timeAxis()->titleText(), "Local time");
    // Each field once in the legend, however many runs it is drawn in.
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto markers = chart.chart()->legend()->markers();
    QCOMPARE(std::count_if(
                 markers.begin(), markers.end(), [](auto *marker) { return marker->isVisible(); }),
        6);

    for (const Span span : spans) {
        window.setSpan(span);
        auto *time = chart.timeAxis();
        QCOMPARE(qint64(time->max() - time->min()), spanLength(span).count());
        // It ends now, or at the end of the bucket now is in.
        const double ahead = time->max() - double(QDateTime::currentMSecsSinceEpoch());
        QVERIFY2(ahead > -1000 && ahead <= double(spanLength(span).count() / bucketsPerSpan),
            qPrintable(QString::number(ahead)));
        // Marked at whole minutes of local time, labelled with them.
        const auto marks = time->categoriesLabels();
        QVERIFY(marks.size() >= 5);
        for (const auto &mark : marks) {
            const auto at = QDateTime::fromMSecsSinceEpoch(qint64(time->endValue(mark)));
            QCOMPARE(at.time().second(), 0);
            QCOMPARE(at.toString("HH:mm"), mark);
            QVERIFY(time->endValue(mark) > time->min() && time->endValue(mark) <= time->max());
        }
    }
}

void ReadingsTest::historyFillsTheChartAtOpening()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // Rows every 10 s for the last two hours but ten minutes an hour ago, when the program was
    // not running; M2 stale in a stretch before that.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime stopped = now.addSecs(-3600), started = stopped.addSecs(600);
    HistoryFiles files(folder.path(), std::nullopt);
    for (QDateTime at = now.addSecs(-7200); at < now; at = at.addSecs(10)) {
        if (at >= stopped && at < started)
            continue;
        auto confirmed = allConfirmed;
        confirmed[1] = !(at >= now.addSecs(-5400) && at < now.addSecs(-5000));
        QCOMPARE(files.append(readingAt(at, confirmed)), QString());
    }
    // A row from this run is its own live sample already: it is not read again.
    Reading fromThisRun = readingAt(now.addSecs(30));
    fromThisRun.kilowatts[0] = "9999";
    QCOMPARE(files.append(fromThisRun), QString());

    ReadingsWindow window({}, HistorySource {folder.path(), 10s});
    window.takeReading(readingAt(QDateTime::currentDateTimeUtc()));
    window.setSpan(Span::OneDay);
    QSignalSpy read(&window, &ReadingsWindow::historyRead);
    window.show();
    QTRY_COMPARE(read.size(), 1);
    const auto &chart = window.chart();
    const auto m1 = runsOf(chart.linesOf(m1Power));
    QCOMPARE(m1.size(), 2);
    QVERIFY(!drawnAcross(m1, double(stopped.addSecs(300).toMSecsSinceEpoch())));
    QVERIFY(m1.first().first().x() <= double(now.addSecs(-7000).toMSecsSinceEpoch()));
    QCOMPARE(runsOf(chart.linesOf(m2Power)).size(), 3);
    for (const QPointF &point : allPoints(chart.linesOf(m1Power)))
        QCOMPARE(point.y(), 1520.0);
    for (const QPointF &point : allPoints(chart.linesOf(m5Frequency)))
        QCOMPARE(point.y(), 50.02);
    window.setSpan(Span::TenMinutes);
    const auto recent = allPoints(chart.linesOf(m1Power));
    QVERIFY(!recent.isEmpty());
    QVERIFY(recent.first().x() >= double(now.addSecs(-600).toMSecsSinceEpoch()));
}

void ReadingsTest::theMenuOpensTheWindowAndTheMainWindowClosesIt()
{
    QWidget mainWindow;
    ReadingsWindow readings({}, std::nullopt);
    new ReadingsMenu(mainWindow, readings);
    QStringList captions;
    for (const auto *action : mainWindow.actions())
        captions << action->text();
    QCOMPARE(captions, QStringList({"Readings…", "About meterlog"}));
    QCOMPARE(mainWindow.contextMenuPolicy(), Qt::ActionsContextMenu);
    // About: a box that does not hold up the main window.
    mainWindow.actions().last()->trigger();
    auto *about = mainWindow.findChild<QMessageBox *>();
    QVERIFY(about && about->isVisible());
    QVERIFY(about->text().contains("meterlog " METERLOG_VERSION));
    QCOMPARE(about->windowModality(), Qt::NonModal);
    about->close();
    mainWindow.show();
    mainWindow.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&mainWindow));
    QTest::keyClick(&mainWindow, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(readings.isVisible());
    // Closing it leaves the main window; closing the main window closes it, and is the last.
    readings.close();
    QVERIFY(mainWindow.isVisible());
    QTest::keyClick(&mainWindow, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(readings.isVisible());
    mainWindow.close();
    const auto windows = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(
        windows.begin(), windows.end(), [](auto *window) { return window->isVisible(); }));
}

QTEST_MAIN(ReadingsTest)
#include "tst_readings.moc"

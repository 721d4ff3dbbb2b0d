#pragma once

// The readings window: every ticked meter's fields in a table and their course in a trend chart,
// fed a reading after each summary, as the publishers are. It keeps the last day of every field
// from its creation on, whether shown or not; with a history folder, the chart's past is read from
// the history files when it is first shown. It draws at most twice a second, and only while shown;
// the chart no oftener than its span's buckets can change on screen.

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "meters/typedmeters.h"
#include "readings/historytrend.h"
#include "readings/readingsmodel.h"
#include "readings/trendchart.h"

class QButtonGroup;
class QTableView;

namespace meterlog {

struct HistorySource
{
    QString folder;
    std::chrono::seconds every;
};

class ReadingsWindow : public QWidget
{
    Q_OBJECT

public:
    // `types` and `labels` have one entry a meter of the line.
    ReadingsWindow(TypedMeters::Types types, std::optional<HistorySource> history,
        std::vector<MeterLabel> labels = slotLabels(), QWidget *parent = nullptr);

    void takeReading(const meterlog::Reading &reading);
    Span span() const { return m_span; }
    void setSpan(Span span);

    const ReadingsModel &model() const { return m_model; }
    const TrendChart &chart() const { return *m_chart; }
    QTableView &table() { return *m_table; }

signals:
    // The history files' curves are on the chart.
    void historyRead();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void takeHistory(const TrendTraces &history);
    void addSamples(const QList<ReadingRow> &rows, const QDateTime &at);
    enum class Chart { WhenDue, Now };
    void draw(Chart chart);

    TypedMeters m_types;
    std::vector<QString> m_ids; // which name the history's columns
    std::optional<HistorySource> m_history;
    bool m_historyRead = false;
    QDateTime m_createdAt; // live samples come from then on
    TrendTraces m_traces;
    QList<ReadingRow> m_rows;
    std::set<FieldKey> m_seen;
    QDateTime m_lastSummaryAt;
    qint64 m_tickMs = 0; // between the last two summaries
    Span m_span = Span::TenMinutes;
    bool m_changed = false;
    bool m_chartDue = false;
    QElapsedTimer m_chartDrawn;
    QTimer m_drawTimer;
    ReadingsModel m_model;
    QTableView *m_table;
    TrendChart *m_chart;
    QButtonGroup *m_spanButtons;
    // Last: it is asked to stop and joined before anything it reports to goes.
    std::jthread m_historyReader;
};

} // namespace meterlog

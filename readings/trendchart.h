#pragma once

// The readings window's trend chart: each charted field a line over the span against local time,
// every unit on an axis of its own (kW on the left, Hz on the right, others after them). A field
// whose course has gaps is drawn as several lines of one colour, one a run between gaps, of which
// only the first has an entry in the legend.

#include <QChartView>

#include <map>

#include "readings/readingrows.h"
#include "readings/trendtrace.h"

class QCategoryAxis;
class QLineSeries;
class QValueAxis;

namespace meterlog {

struct ChartedField
{
    FieldKey key;
    QString meter; // its name
    QString unit;
    const TrendTrace *trace;
};

class TrendChart : public QChartView
{
    Q_OBJECT

public:
    explicit TrendChart(QWidget *parent = nullptr);

    // Shows `fields` over the span ending at `nowMs`; fields not among them leave the chart.
    void draw(const QList<ChartedField> &fields, Span span, qint64 nowMs);
    // The lines a field is drawn with, one a run; none while it is not charted.
    QList<QLineSeries *> linesOf(const FieldKey &key) const;
    QValueAxis *axisOf(const QString &unit) const;
    // Milliseconds since the epoch, marked at whole steps of local time.
    QCategoryAxis *timeAxis() const { return m_time; }

private:
    struct Drawn
    {
        QString unit;
        QList<QLineSeries *> lines;
    };

    QLineSeries *addLine(const ChartedField &field, bool inLegend);
    void removeLines(const QList<QLineSeries *> &lines);
    QValueAxis *unitAxis(const QString &unit);
    void markTimes(qint64 firstMs, qint64 lastMs, qint64 stepMs);
    void fitUnitAxes();

    QCategoryAxis *m_time;
    std::map<QString, QValueAxis *> m_unitAxes;
    std::map<FieldKey, Drawn> m_drawn;
    std::map<FieldKey, int> m_colourOf; // kept, so that a field keeps its colour
};

// A charted field's name in the legend: "M1 power (kW)".
QString lineName(const QString &meter, const QString &field, const QString &unit);

} // namespace meterlog

#include "readings/trendchart.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace meterlog {

namespace {

// Distinct on white and for the common kinds of colour blindness (Okabe and Ito's palette).
const std::array<QColor, 8> lineColours {QColor(0x00, 0x72, 0xb2), QColor(0xe6, 0x9f, 0x00),
    QColor(0x00, 0x9e, 0x73), QColor(0xd5, 0x5e, 0x00), QColor(0xcc, 0x79, 0xa7),
    QColor(0x56, 0xb4, 0xe9), QColor(0x00, 0x00, 0x00), QColor(0xf0, 0xe4, 0x42)};

using namespace std::chrono_literals;

// Times are marked at whole local minutes and hours: 2 minutes, 10 minutes and 4 hours apart.
std::chrono::milliseconds timeStep(Span span)
{
    static constexpr std::array<std::chrono::milliseconds, spans.size()> steps {2min, 10min, 4h};
    return steps[int(span)];
}

// An axis from a round number to a round number in about four steps of 1, 2, 2.5 or 5 times a
// power of ten, around the values it shows; a flat line sits in the middle.
struct AxisRange
{
    double low = 0, high = 1, step = 0.25;
};

AxisRange niceRange(double low, double high)
{
    if (low > high)
        return {};
    if (high == low) {
        const double margin = std::max(std::abs(high) * 0.01, 0.5);
        low -= margin;
        high += margin;
    }
    const double rough = (high - low) / 4;
    const double magnitude = std::pow(10, std::floor(std::log10(rough)));
    double step = 10 * magnitude;
    for (const double factor : {1.0, 2.0, 2.5, 5.0}) {
        if (rough <= factor * magnitude) {
            step = factor * magnitude;
            break;
        }
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

// Labels with the decimals the step needs, and no exponents.
QString labelFormat(double step)
{
    int decimals = 0;
    for (double scaled = step; decimals < 6 && std::abs(scaled - std::round(scaled)) > 1e-9;
         scaled *= 10)
        ++decimals;
    return QStringLiteral("%.%1f").arg(decimals);
}

} // namespace

QString lineName(const QString &meter, const QString &field, const QString &unit)
{
    const QString name = meter + u' ' + field;
    return unit.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, unit);
}

TrendChart::TrendChart(QWidget *parent)
    : QChartView(parent)
    , m_time(new QCategoryAxis)
{
    chart()->legend()->setAlignment(Qt::AlignBottom);
    m_time->setTitleText(QStringLiteral("Local time"));
    m_time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    chart()->addAxis(m_time, Qt::AlignBottom);
    setRenderHint(QPainter::Antialiasing);
}

QValueAxis *TrendChart::axisOf(const QString &unit) const
{
    const auto axis = m_unitAxes.find(unit);
    return axis == m_unitAxes.end() ? nullptr : axis->second;
}

QValueAxis *TrendChart::unitAxis(const QString &unit)
{
    if (auto *axis = axisOf(unit))
        return axis;
    auto *axis = new QValueAxis;
    axis->setTitleText(unit.isEmpty() ? QStringLiteral("value") : unit);
    // kW first on the left and Hz on the right; further units take turns.
    const bool left = unit == u"kW" || (unit != u"Hz" && m_unitAxes.size() % 2 == 0);
    chart()->addAxis(axis, left ? Qt::AlignLeft : Qt::AlignRight);
    m_unitAxes[unit] = axis;
    return axis;
}

QLineSeries *TrendChart::addLine(const ChartedField &field, bool inLegend)
{
    const auto &key = field.key;
    auto *line = new QLineSeries;
    line->setName(lineName(field.meter, key.second, field.unit));
    const auto colour = m_colourOf.try_emplace(key, int(m_colourOf.size())).first->second;
    QPen pen(lineColours[colour % lineColours.size()]);
    pen.setWidthF(1.5);
    line->setPen(pen);
    chart()->addSeries(line);
    line->attachAxis(m_time);
    line->attachAxis(unitAxis(field.unit));
    if (!inLegend) {
        for (auto *marker : chart()->legend()->markers(line))
            marker->setVisible(false);
    }
    return line;
}

void TrendChart::removeLines(const QList<QLineSeries *> &lines)
{
    for (auto *line : lines) {
        // A series still on its chart must not be deleted.
        chart()->removeSeries(line);
        delete line;
    }
}

void TrendChart::draw(const QList<ChartedField> &fields, Span span, qint64 nowMs)
{
    std::map<FieldKey, Drawn> drawn;
    for (const auto &field : fields) {
        auto &lines = drawn[field.key];
        lines.unit = field.unit;
        if (const auto was = m_drawn.find(field.key); was != m_drawn.end()) {
            if (was->second.unit == field.unit)
                lines.lines = was->second.lines;
            else
                removeLines(was->second.lines);
            m_drawn.erase(was);
        }
        const auto runs = field.trace->runs(span, nowMs);
        // One line at least, so that the field keeps its entry in the legend.
        const qsizetype wanted = std::max<qsizetype>(1, runs.size());
        if (lines.lines.size() > wanted)
            removeLines(lines.lines.sliced(wanted));
        lines.lines.resize(std::min(lines.lines.size(), wanted));
        while (lines.lines.size() < wanted)
            lines.lines << addLine(field, lines.lines.isEmpty());
        // A line given the points it has is laid out and painted again all the same.
        for (qsizetype i = 0; i < lines.lines.size(); ++i) {
            const auto points = i < runs.size() ? runs[i] : QList<QPointF>();
            if (lines.lines[i]->points() == points)
                continue;
            lines.lines[i]->replace(points);
            // A run of one sample between gaps is a dot, not nothing.
            lines.lines[i]->setPointsVisible(points.size() == 1);
        }
    }
    // What is left was charted before and is not now.
    for (auto &[key, gone] : m_drawn)
        removeLines(gone.lines);
    m_drawn = std::move(drawn);
    // The span moves a bucket at a time, and only a range that changes is set: each change lays
    // out every label of the axis again.
    const qint64 bucketMs = spanLength(span).count() / bucketsPerSpan;
    const qint64 endMs = (nowMs + bucketMs - 1) / bucketMs * bucketMs;
    if (m_time->max() != double(endMs) || m_time->min() != double(endMs - spanLength(span).count()))
        markTimes(endMs - spanLength(span).count(), endMs, timeStep(span).count());
    fitUnitAxes();
}

void TrendChart::markTimes(qint64 firstMs, qint64 lastMs, qint64 stepMs)
{
    for (const auto &label : m_time->categoriesLabels())
        m_time->remove(label);
    m_time->setRange(double(firstMs), double(lastMs));
    // Whole steps of local time, wherever the time zone's offset puts them. The first mark is
    // after the span's start, so that no two marks of a day read the same.
    const qint64 offsetMs = qint64(QDateTime::fromMSecsSinceEpoch(firstMs).offsetFromUtc()) * 1000;
    for (qint64 mark = (firstMs + offsetMs) / stepMs * stepMs + stepMs - offsetMs; mark <= lastMs;
         mark += stepMs) {
        m_time->append(
            QDateTime::fromMSecsSinceEpoch(mark).toString(QStringLiteral("HH:mm")), double(mark));
    }
}

void TrendChart::fitUnitAxes()
{
    for (auto it = m_unitAxes.begin(); it != m_unitAxes.end();) {
        auto *axis = it->second;
        double low = INFINITY, high = -INFINITY;
        bool used = false;
        for (const auto &[key, drawn] : m_drawn) {
            if (drawn.unit != it->first)
                continue;
            used = true;
            for (const auto *line : drawn.lines) {
                for (const QPointF &point : line->points()) {
                    low = std::min(low, point.y());
                    high = std::max(high, point.y());
                }
            }
        }
        if (!used) {
            chart()->removeAxis(axis);
            delete axis;
            it = m_unitAxes.erase(it);
            continue;
        }
        const auto range = niceRange(low, high);
        if (axis->min() != range.low || axis->max() != range.high) {
            axis->setRange(range.low, range.high);
            axis->setTickCount(int(std::lround((range.high - range.low) / range.step)) + 1);
            axis->setLabelFormat(labelFormat(range.step));
        }
        ++it;
    }
}

QList<QLineSeries *> TrendChart::linesOf(const FieldKey &key) const
{
    const auto drawn = m_drawn.find(key);
    return drawn == m_drawn.end() ? QList<QLineSeries *>() : drawn->second.lines;
}

} // namespace meterlog

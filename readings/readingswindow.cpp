#include "readings/readingswindow.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace meterlog {

namespace {

using namespace std::chrono_literals;

constexpr auto drawEvery = 500ms;
// A pixel of a wide chart is about a bucket: the chart is drawn again four times a bucket at most
// (every 36 s on the 24-hour span), the table at every draw.
std::chrono::milliseconds chartEvery(Span span)
{
    return std::max<std::chrono::milliseconds>(drawEvery, spanLength(span) / bucketsPerSpan / 4);
}
// Replies further apart than this, or than a few ticks when ticks are slow, have nothing known
// between them (the meter was not asked: manual mode, a paused program).
constexpr auto liveHole = 10s;
constexpr int ticksInHole = 4;

QString spanCaption(Span span)
{
    static const std::array<QString, spans.size()> captions {
        QStringLiteral("10 minutes"), QStringLiteral("1 hour"), QStringLiteral("24 hours")};
    return captions[int(span)];
}

} // namespace

ReadingsWindow::ReadingsWindow(TypedMeters::Types types, std::optional<HistorySource> history,
    std::vector<MeterLabel> labels, QWidget *parent)
    : QWidget(parent)
    , m_types(std::move(types), vacancies(labels))
    , m_history(std::move(history))
    , m_createdAt(QDateTime::currentDateTimeUtc())
    , m_table(new QTableView)
    , m_chart(new TrendChart)
    , m_spanButtons(new QButtonGroup(this))
{
    for (const auto &label : labels)
        m_ids.push_back(label.id);
    setWindowTitle(QStringLiteral("Readings"));
    auto *spanRow = new QHBoxLayout;
    spanRow->addWidget(new QLabel(QStringLiteral("Span:")));
    for (const Span span : spans) {
        auto *button = new QRadioButton(spanCaption(span));
        button->setChecked(span == m_span);
        m_spanButtons->addButton(button, int(span));
        spanRow->addWidget(button);
    }
    spanRow->addStretch();
    connect(m_spanButtons, &QButtonGroup::idClicked, this, [this](int id) { setSpan(Span(id)); });

    m_table->setModel(&m_model);
    m_table->verticalHeader()->hide();
    // Rows as high as their text, so that a typed meter's fields fit in view.
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(
        &m_model, &QAbstractItemModel::modelReset, m_table, &QTableView::resizeColumnsToContents);
    connect(&m_model, &ReadingsModel::chartedChanged, this, [this] {
        m_changed = true;
        if (isVisible())
            draw(Chart::Now);
    });
    // Meters ticked or unticked: their lines come or go at once.
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] { m_chartDue = true; });

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(m_chart);
    splitter->addWidget(m_table);
    splitter->setSizes({440, 240});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(spanRow);
    layout->addWidget(splitter);
    resize(960, 720);

    m_drawTimer.setInterval(drawEvery);
    connect(&m_drawTimer, &QTimer::timeout, this, [this] {
        if (m_changed)
            draw(Chart::WhenDue);
    });
}

void ReadingsWindow::takeReading(const Reading &reading)
{
    if (m_lastSummaryAt.isValid())
        m_tickMs = m_lastSummaryAt.msecsTo(reading.at);
    m_lastSummaryAt = reading.at;
    m_rows = readingRows(reading, m_types);
    addSamples(m_rows, reading.at);
    m_changed = true;
}

void ReadingsWindow::addSamples(const QList<ReadingRow> &rows, const QDateTime &at)
{
    const auto lineFrequency = m_types.lineFrequencySlot();
    const qint64 holeMs
        = std::max<qint64>(std::chrono::milliseconds(liveHole).count(), ticksInHole * m_tickMs);
    for (const auto &row : rows) {
        if (m_seen.insert(row.key).second
            && (row.key.second == powerField
                || (row.key.second == frequencyField && row.key.first == lineFrequency)))
            m_model.chartByDefault(row.key);
        auto &trace = m_traces[row.key];
        const auto newest = trace.newestAt();
        const bool wasGap = !newest || trace.newestIsGap();
        if (!row.fresh) {
            // Whatever it showed before is not known now.
            if (!wasGap)
                trace.add(at.toMSecsSinceEpoch(), std::nullopt);
        } else if (const qint64 repliedMs = row.repliedAt.toMSecsSinceEpoch();
                   !newest || repliedMs > *newest) {
            if (!wasGap && repliedMs - *newest > holeMs)
                trace.add(*newest + (repliedMs - *newest) / 2, std::nullopt);
            trace.add(repliedMs, row.value);
        }
        // A line that starts or stops is drawn at the next draw, whatever the span.
        if (trace.newestAt() && trace.newestIsGap() != wasGap)
            m_chartDue = true;
    }
}

void ReadingsWindow::setSpan(Span span)
{
    m_span = span;
    if (auto *button = m_spanButtons->button(int(span)))
        button->setChecked(true);
    m_changed = true;
    if (isVisible())
        draw(Chart::Now);
}

void ReadingsWindow::draw(Chart chart)
{
    m_changed = false;
    m_model.show(m_rows);
    if (chart == Chart::WhenDue && !m_chartDue && m_chartDrawn.isValid()
        && !m_chartDrawn.hasExpired(chartEvery(m_span).count()))
        return;
    m_chartDue = false;
    m_chartDrawn.start();
    QList<ChartedField> fields;
    for (const auto &row : m_rows) {
        if (m_model.charted().contains(row.key))
            fields << ChartedField {row.key, row.meter, row.unit, &m_traces[row.key]};
    }
    m_chart->draw(fields, m_span, QDateTime::currentMSecsSinceEpoch());
}

void ReadingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_history && !m_historyRead) {
        m_historyRead = true;
        // Read on a thread of its own: a day of rows can take seconds, and polling goes on.
        m_historyReader = std::jthread([this, types = m_types, ids = m_ids, history = *m_history,
                                           until = m_createdAt](std::stop_token stop) {
            auto traces = std::make_shared<TrendTraces>(historyTraces(types, ids, history.folder,
                until.addMSecs(-spanLength(Span::OneDay).count()), until, history.every, stop));
            if (!stop.stop_requested())
                QMetaObject::invokeMethod(this, [this, traces] { takeHistory(*traces); });
        });
    }
    draw(Chart::Now);
    m_drawTimer.start();
}

void ReadingsWindow::takeHistory(const TrendTraces &history)
{
    for (const auto &[key, trace] : history)
        m_traces[key].merge(trace);
    m_changed = true;
    if (isVisible())
        draw(Chart::Now);
    emit historyRead();
}

void ReadingsWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_drawTimer.stop();
}

} // namespace meterlog

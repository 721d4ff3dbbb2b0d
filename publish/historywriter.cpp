#include "publish/historywriter.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>

#include "common/lastingcondition.h"
#include "common/logcategories.h"
#include "publish/historyfiles.h"

namespace meterlog {

// What works on the writer's thread: the files, the timer and the latest reading.
class HistoryWriter::Rows : public QObject
{
public:
    Rows(QString folder, std::optional<int> keepDays)
        : m_files(std::move(folder), keepDays)
        , m_trouble(lcFile)
    { }

    void start(std::chrono::seconds every)
    {
        m_every = every;
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &Rows::write);
        scheduleNext();
    }

    void take(const Reading &reading) { m_latest = reading; }

private:
    // Rows are due at whole multiples of the interval (every 10 s: :00, :10, :20 ...), each timed
    // afresh from the clock, so that the interval does not drift and a row stands for its time.
    void scheduleNext()
    {
        const qint64 every = std::chrono::milliseconds(m_every).count();
        // Never the same time twice, should the timer fire a little early.
        const qint64 now = std::max(QDateTime::currentMSecsSinceEpoch(),
            m_due.isValid() ? m_due.toMSecsSinceEpoch() + 1 : qint64(0));
        const qint64 next = (now / every + 1) * every;
        m_due = QDateTime::fromMSecsSinceEpoch(next, Qt::UTC);
        m_timer->start(std::chrono::milliseconds(next - QDateTime::currentMSecsSinceEpoch()));
    }

    void write()
    {
        const QDateTime due = m_due;
        scheduleNext();
        // A row says what a summary found: none came since the last row, none is written. Times
        // only grow, also when the clock is set back.
        if (!m_latest || m_latest->at == m_lastTaken || (m_lastRow.isValid() && due <= m_lastRow))
            return;
        Reading row = *m_latest;
        row.at = due;
        const QString path = m_files.pathFor(due.toLocalTime().date());
        if (const QString failure = m_files.append(row); !failure.isEmpty()) {
            m_trouble.persists(
                QStringLiteral("cannot add to the history file %1: %2").arg(path, failure));
            return;
        }
        m_lastTaken = m_latest->at;
        m_lastRow = due;
        if (m_trouble.isOn())
            m_trouble.cleared(QStringLiteral("history file %1 written again").arg(path));
    }

    HistoryFiles m_files;
    LastingCondition m_trouble;
    std::chrono::seconds m_every {};
    QTimer *m_timer = nullptr;
    QDateTime m_due; // of the next row
    std::optional<Reading> m_latest;
    QDateTime m_lastTaken; // the reading the last row was made of
    QDateTime m_lastRow; // the time it stands for
};

HistoryWriter::HistoryWriter(
    QString folder, std::chrono::seconds every, std::optional<int> keepDays)
    : m_rows(new Rows(std::move(folder), keepDays))
{
    m_rows->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_rows, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(m_rows, [rows = m_rows, every] { rows->start(every); });
}

HistoryWriter::~HistoryWriter()
{
    m_thread.quit();
    m_thread.wait();
}

void HistoryWriter::takeReading(const Reading &reading)
{
    QMetaObject::invokeMethod(m_rows, [rows = m_rows, reading] { rows->take(reading); });
}

} // namespace meterlog

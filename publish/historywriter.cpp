#include "historywriter.h"

#include <QMetaObject>
#include <QTimer>

#include "historyfiles.h"
#include "lastingcondition.h"
#include "logcategories.h"

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
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &Rows::write);
        timer->start(every);
    }

    void take(const Reading &reading) { m_latest = reading; }

private:
    void write()
    {
        // A row says what a summary found: none came since the last row, none is written.
        if (!m_latest || m_latest->at == m_lastWritten)
            return;
        const QString path = m_files.pathFor(m_latest->at.toLocalTime().date());
        if (const QString failure = m_files.append(*m_latest); !failure.isEmpty()) {
            m_trouble.persists(
                QStringLiteral("cannot add to the history file %1: %2").arg(path, failure));
            return;
        }
        m_lastWritten = m_latest->at;
        if (m_trouble.isOn())
            m_trouble.cleared(QStringLiteral("history file %1 written again").arg(path));
    }

    HistoryFiles m_files;
    LastingCondition m_trouble;
    std::optional<Reading> m_latest;
    QDateTime m_lastWritten;
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

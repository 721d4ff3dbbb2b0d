#pragma once

// Keeps the history: a row every so many seconds from the latest reading, stamped with the time it
// stands for (a whole multiple of the interval), written on a thread of its own so that a slow or
// full disk never holds up polling. A file that cannot be written is
// logged when it starts and when it ends; rows go on when writing works again.

#include <QObject>
#include <QThread>

#include <chrono>
#include <optional>

#include "meters/reading.h"

namespace meterlog {

class HistoryWriter : public QObject
{
    Q_OBJECT

public:
    HistoryWriter(QString folder, std::chrono::seconds every, std::optional<int> keepDays);
    ~HistoryWriter() override;

    // The newest reading, for the next row.
    void takeReading(const meterlog::Reading &reading);

private:
    class Rows;

    QThread m_thread;
    Rows *m_rows; // lives on m_thread, which deletes it as it ends
};

} // namespace meterlog

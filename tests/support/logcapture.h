// Collects what meterlog logs while it lives, so a test can read the lines a category said. Lines
// may come from any thread: a broker link logs from its network thread.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The messages of `category` so far, in order.
    QStringList lines(const char *category) const;
    void clear();

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &text);

    struct Line
    {
        QString category;
        QString text;
    };
    mutable std::mutex m_mutex; // guards m_lines
    QList<Line> m_lines;
    QtMessageHandler m_previous;
};

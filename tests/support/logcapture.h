// Collects what meterlog logs while it lives, so a test can read the lines a category said.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

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
    QList<Line> m_lines;
    QtMessageHandler m_previous;
};

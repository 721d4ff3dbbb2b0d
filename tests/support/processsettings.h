// Settings a test changes for the whole process, given back when it ends, also when it fails
// half-way: the next test starts with the process as it was.
#pragma once

#include <QByteArray>
#include <QString>

// Local time is that of `zone` ("Europe/Berlin", "UTC") while this lives.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    bool m_hadZone;
    QByteArray m_previous;
};

// The logging rules are `rules` while this lives, then Qt's defaults again.
class ScopedLogRules
{
public:
    explicit ScopedLogRules(const QString &rules);
    ~ScopedLogRules();
    ScopedLogRules(const ScopedLogRules &) = delete;
    ScopedLogRules &operator=(const ScopedLogRules &) = delete;
};

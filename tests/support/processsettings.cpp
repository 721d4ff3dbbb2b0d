#include "tests/support/processsettings.h"

#include <QLoggingCategory>

#include <ctime>

ScopedTimeZone::ScopedTimeZone(const char *zone)
    : m_hadZone(qEnvironmentVariableIsSet("TZ"))
    , m_previous(qgetenv("TZ"))
{
    qputenv("TZ", zone);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_hadZone)
        qputenv("TZ", m_previous);
    else
        qunsetenv("TZ");
    tzset();
}

ScopedLogRules::ScopedLogRules(const QString &rules)
{
    QLoggingCategory::setFilterRules(rules);
}

ScopedLogRules::~ScopedLogRules()
{
    QLoggingCategory::setFilterRules(QString());
}

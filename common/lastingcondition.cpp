#include "common/lastingcondition.h"

namespace meterlog {

LastingCondition::LastingCondition(LogCategory category)
    : m_category(category)
{ }

void LastingCondition::persists(const QString &what, Clock::time_point now)
{
    switch (m_state) {
    case State::Clear:
        m_since = now;
        if (!m_lastSaid || now - *m_lastSaid >= quietPeriod)
            sayStart(what, now);
        else
            m_state = State::HeldBack;
        return;
    case State::HeldBack:
        if (now - m_since >= heldBackFor) {
            sayStart(what
                    + QStringLiteral(" (for %1 now)")
                          .arg(spokenDuration(std::chrono::duration_cast<std::chrono::milliseconds>(
                              now - m_since))),
                now);
        }
        return;
    case State::Said:
        return;
    }
}

void LastingCondition::sayStart(QString line, Clock::time_point now)
{
    if (m_unsaidSpells > 0) {
        line += QStringLiteral("; %1 shorter spell%2 in the last %3 went unlogged")
                    .arg(m_unsaidSpells)
                    .arg(m_unsaidSpells == 1 ? "" : "s")
                    .arg(spokenDuration(
                        std::chrono::duration_cast<std::chrono::milliseconds>(now - *m_lastSaid)));
    }
    qCWarning(m_category).noquote() << line;
    m_state = State::Said;
    m_lastSaid = now;
    m_unsaidSpells = 0;
}

void LastingCondition::cleared(const QString &what, Clock::time_point now)
{
    if (m_state == State::Said) {
        qCWarning(m_category).noquote() << what
                + QStringLiteral(" (after %1)")
                      .arg(spokenDuration(
                          std::chrono::duration_cast<std::chrono::milliseconds>(now - m_since)));
    } else if (m_state == State::HeldBack) {
        ++m_unsaidSpells;
    }
    m_state = State::Clear;
}

QString spokenDuration(std::chrono::milliseconds span)
{
    using namespace std::chrono;
    if (span < 10s)
        return QStringLiteral("%1 s").arg(double(span.count()) / 1000.0, 0, 'f', 1);
    const auto wholeSeconds = duration_cast<seconds>(span).count();
    const auto pair
        = [](long long big, const char *bigUnit, long long small, const char *smallUnit) {
              return small == 0
                  ? QStringLiteral("%1 %2").arg(big).arg(bigUnit)
                  : QStringLiteral("%1 %2 %3 %4").arg(big).arg(bigUnit).arg(small).arg(smallUnit);
          };
    if (wholeSeconds < 60)
        return QStringLiteral("%1 s").arg(wholeSeconds);
    if (wholeSeconds < 3600)
        return pair(wholeSeconds / 60, "min", wholeSeconds % 60, "s");
    if (wholeSeconds < 86400)
        return pair(wholeSeconds / 3600, "h", wholeSeconds % 3600 / 60, "min");
    return pair(wholeSeconds / 86400, "d", wholeSeconds % 86400 / 3600, "h");
}

} // namespace meterlog

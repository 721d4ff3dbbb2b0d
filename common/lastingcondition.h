#pragma once

// A trouble that lasts (a port missing, a file that cannot be written, a meter that does not
// answer, a broker that is down) is said in the log once when it starts and once when it ends,
// never once per retry or per scan: a logger in a cabinet must not fill its disk with its own
// complaints. A trouble that keeps coming and going is held back: a spell that starts within a
// quiet period after the last one was said is logged only if it lasts, and the spells held back
// are counted in the next line that is said.

#include <QLoggingCategory>
#include <QString>

#include <chrono>
#include <optional>

namespace meterlog {

// A log category as Q_DECLARE_LOGGING_CATEGORY declares it.
using LogCategory = const QLoggingCategory &(*)();

class LastingCondition
{
public:
    using Clock = std::chrono::steady_clock;
    // After a start has been said, spells that start within this period are held back...
    static constexpr std::chrono::minutes quietPeriod {10};
    // ...until they have lasted this long.
    static constexpr std::chrono::seconds heldBackFor {30};

    explicit LastingCondition(LogCategory category);

    // The trouble is there; `what` says what it is, for the line that reports its start.
    void persists(const QString &what, Clock::time_point now = Clock::now());
    // The trouble is gone; `what` says so, for the line that reports its end (with how long it
    // lasted) when its start was reported.
    void cleared(const QString &what, Clock::time_point now = Clock::now());
    bool isOn() const { return m_state != State::Clear; }

private:
    enum class State {
        Clear,
        Said, // its start is in the log
        HeldBack, // it started soon after the last one that was said
    };
    void sayStart(QString line, Clock::time_point now);

    LogCategory m_category;
    State m_state = State::Clear;
    Clock::time_point m_since;
    std::optional<Clock::time_point> m_lastSaid;
    int m_unsaidSpells = 0; // held back and over since the last start that was said
};

// A span as people say it: "0.4 s", "45 s", "3 min 12 s", "2 h 5 min", "3 d 4 h".
QString spokenDuration(std::chrono::milliseconds span);

} // namespace meterlog

// A lasting trouble is said once when it starts and once when it ends, and one that keeps coming
// back is held back, whatever the retries in between.

#include <QTest>

#include "common/lastingcondition.h"
#include "tests/support/logcapture.h"

using namespace meterlog;
using namespace std::chrono_literals;

namespace {
Q_LOGGING_CATEGORY(lcTrouble, "test.trouble")
}

class LastingConditionTest : public QObject
{
    Q_OBJECT

private slots:
    void saysEachSpellOnce_data();
    void saysEachSpellOnce();
    void spokenDurations_data();
    void spokenDurations();
};

void LastingConditionTest::saysEachSpellOnce_data()
{
    // Events are "SECONDS fail" or "SECONDS clear"; the trouble says "down", its end "up".
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("logged");
    QTest::newRow("start and end") << QStringList {"0 fail", "1 fail", "2 fail", "5 clear"}
                                   << QStringList {"down", "up (after 5.0 s)"};
    QTest::newRow("a day of retries") << QStringList {"0 fail", "2 fail", "43200 fail",
        "86400 fail", "86402 clear"} << QStringList {"down", "up (after 1 d)"};
    QTest::newRow("nothing to end") << QStringList {"0 clear", "5 clear"} << QStringList {};
    QTest::newRow("a short spell soon after is counted in the next line")
        << QStringList {"0 fail", "5 clear", "60 fail", "62 clear", "700 fail"}
        << QStringList {"down", "up (after 5.0 s)",
               "down; 1 shorter spell in the last 11 min 40 s went unlogged"};
    QTest::newRow("a spell held back is said once it lasts")
        << QStringList {"0 fail", "5 clear", "60 fail", "89 fail", "90 fail", "95 fail",
               "100 clear"}
        << QStringList {"down", "up (after 5.0 s)", "down (for 30 s now)", "up (after 40 s)"};
    QStringList flapping;
    for (int minute = 0; minute < 60; ++minute)
        flapping << QStringLiteral("%1 fail").arg(minute * 60)
                 << QStringLiteral("%1 clear").arg(minute * 60 + 3);
    QTest::newRow("an hour of flapping makes a dozen lines")
        << flapping
        << QStringList {"down", "up (after 3.0 s)",
               "down; 9 shorter spells in the last 10 min went unlogged", "up (after 3.0 s)",
               "down; 9 shorter spells in the last 10 min went unlogged", "up (after 3.0 s)",
               "down; 9 shorter spells in the last 10 min went unlogged", "up (after 3.0 s)",
               "down; 9 shorter spells in the last 10 min went unlogged", "up (after 3.0 s)",
               "down; 9 shorter spells in the last 10 min went unlogged", "up (after 3.0 s)"};
}

void LastingConditionTest::saysEachSpellOnce()
{
    QFETCH(QStringList, events);
    QFETCH(QStringList, logged);
    LogCapture capture;
    LastingCondition trouble(lcTrouble);
    const LastingCondition::Clock::time_point origin;
    for (const auto &event : events) {
        const auto at = origin + std::chrono::seconds(event.section(u' ', 0, 0).toInt());
        if (event.endsWith(QLatin1String("fail")))
            trouble.persists(QStringLiteral("down"), at);
        else
            trouble.cleared(QStringLiteral("up"), at);
    }
    QCOMPARE(capture.lines("test.trouble"), logged);
}

void LastingConditionTest::spokenDurations_data()
{
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<QString>("spoken");
    QTest::newRow("under a second") << qint64(400) << "0.4 s";
    QTest::newRow("seconds") << qint64(45'000) << "45 s";
    QTest::newRow("minutes") << qint64(192'000) << "3 min 12 s";
    QTest::newRow("whole hour") << qint64(3'600'000) << "1 h";
    QTest::newRow("hours") << qint64(7'500'000) << "2 h 5 min";
    QTest::newRow("days") << qint64(273'600'000) << "3 d 4 h";
}

void LastingConditionTest::spokenDurations()
{
    QFETCH(qint64, milliseconds);
    QFETCH(QString, spoken);
    QCOMPARE(spokenDuration(std::chrono::milliseconds(milliseconds)), spoken);
}

QTEST_GUILESS_MAIN(LastingConditionTest)
#include "tst_lastingcondition.moc"

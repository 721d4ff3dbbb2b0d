// The history files: rows that hold only confirmed values, a file a day, rows cut short taken out
// again, a full disk, and old files removed.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

#include "publish/historyfiles.h"
#include "tests/support/processsettings.h"
#include "tests/support/readingsamples.h"

using namespace meterlog;

namespace {

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {"<missing>"};
    const QByteArray content = file.readAll();
    if (!content.endsWith('\n') && !content.isEmpty())
        return {"<torn>"};
    return QString::fromUtf8(content).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class HistoryFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void rowsHoldOnlyConfirmedValues_data();
    void rowsHoldOnlyConfirmedValues();
    void aFileADayFromMidnight();
    void aRowCutShortIsTakenOut();
    void aFullDiskLeavesNoPartOfARow();
    void oldFilesAreRemoved();
    void typedMetersGetAColumnAFieldAndAFileOfTheirOwn();
};

void HistoryFilesTest::rowsHoldOnlyConfirmedValues_data()
{
    QTest::addColumn<QList<bool>>("confirmed");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<int>("frequencySlot");
    const QString time = QStringLiteral("2026-12-08T14:03:07+00:00,");
    QTest::newRow("all confirmed") << QList<bool> {true, true, true, true, true}
                                   << time + "5002,1520,3275,860,12400,402600" << 4;
    QTest::newRow("meter 3 silent") << QList<bool> {true, true, false, true, true}
                                    << time + "5002,1520,3275,,12400,402600" << 4;
    QTest::newRow("meter 5 silent, the frequency its")
        << QList<bool> {true, true, true, true, false} << time + ",1520,3275,860,12400," << 4;
    QTest::newRow("meter 5 silent, the frequency meter 1's")
        << QList<bool> {true, true, true, true, false} << time + "5002,1520,3275,860,12400," << 0;
    QTest::newRow("none") << QList<bool> {false, false, false, false, false} << time + ",,,,," << 4;
}

void HistoryFilesTest::rowsHoldOnlyConfirmedValues()
{
    QFETCH(QList<bool>, confirmed);
    QFETCH(QString, fields);
    QFETCH(int, frequencySlot);
    const ScopedTimeZone zone("UTC");
    std::array<bool, slotCount> flags {};
    std::copy(confirmed.begin(), confirmed.end(), flags.begin());
    const auto reading = [&](const QDateTime &at) {
        auto each = readingAt(at, flags);
        each.frequencySlot = frequencySlot;
        return each;
    };
    const QDateTime at(QDate(2026, 12, 8), QTime(14, 3, 7), Qt::UTC);
    QCOMPARE(historyRow(reading(at)), fields);

    QTemporaryDir dir;
    HistoryFiles files(dir.path(), std::nullopt);
    QCOMPARE(files.append(reading(at)), QString());
    QCOMPARE(files.append(reading(at.addSecs(10))), QString());
    const auto lines = linesOf(dir.filePath("meterlog-2026-12-08.csv"));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], historyHeader);
    QCOMPARE(lines[1], fields);
}

void HistoryFilesTest::aFileADayFromMidnight()
{
    // Days are local: in Berlin, 23:59:59 on the 8th is 22:59:59 UTC.
    const ScopedTimeZone zone("Europe/Berlin");
    QTemporaryDir dir;
    HistoryFiles files(dir.path(), std::nullopt);
    const QDateTime beforeMidnight(QDate(2026, 12, 8), QTime(23, 59, 59));
    QCOMPARE(files.append(readingAt(beforeMidnight, allConfirmed)), QString());
    QCOMPARE(files.append(readingAt(beforeMidnight.addSecs(2), allConfirmed)), QString());
    const auto evening = linesOf(dir.filePath("meterlog-2026-12-08.csv"));
    const auto morning = linesOf(dir.filePath("meterlog-2026-12-09.csv"));
    QCOMPARE(evening,
        (QStringList {historyHeader, "2026-12-08T23:59:59+01:00,5002,1520,3275,860,12400,402600"}));
    QCOMPARE(morning,
        (QStringList {historyHeader, "2026-12-09T00:00:01+01:00,5002,1520,3275,860,12400,402600"}));
}

void HistoryFilesTest::typedMetersGetAColumnAFieldAndAFileOfTheirOwn()
{
    const ScopedTimeZone zone("Europe/Berlin");
    QTemporaryDir dir;
    HistoryFiles files(dir.path(), std::nullopt);
    const QDateTime at(QDate(2026, 12, 8), QTime(9, 0, 0));
    // The day began with default meters only.
    QCOMPARE(files.append(readingAt(at, allConfirmed)), QString());

    // Then meter 2 is an SDM630 (two of its fields here), one of them not available; meter 4
    // was not confirmed.
    auto typed = readingAt(at.addSecs(10), {true, true, true, false, true});
    typed.fields[1] = MeterFields {at, {{"voltage_l1", 230.5}, {"power_factor", std::nullopt}}};
    const QString header = "time,m1_power,m2_voltage_l1,m2_power_factor,m3_power,m4_power,m5_power";
    QCOMPARE(historyHeaderFor(typed), header);
    QCOMPARE(files.append(typed), QString());
    QCOMPARE(files.append(typed), QString());
    // The morning's file keeps its header; the typed rows go to a file of their own.
    QCOMPARE(linesOf(dir.filePath("meterlog-2026-12-08.csv")).size(), 2);
    const QString typedRow = "2026-12-08T09:00:10+01:00,1520,230.5,,860,,402600";
    QCOMPARE(linesOf(dir.filePath("meterlog-2026-12-08-2.csv")),
        (QStringList {header, typedRow, typedRow}));

    // Started again with the same types, a new writer finds the file with their header.
    HistoryFiles again(dir.path(), std::nullopt);
    QCOMPARE(again.append(typed), QString());
    QCOMPARE(linesOf(dir.filePath("meterlog-2026-12-08-2.csv")).size(), 4);
    QVERIFY(!QFile::exists(dir.filePath("meterlog-2026-12-08-3.csv")));
}

void HistoryFilesTest::aRowCutShortIsTakenOut()
{
    const ScopedTimeZone zone("UTC");
    QTemporaryDir dir;
    const QString path = dir.filePath("meterlog-2026-12-08.csv");
    // A power cut in the middle of a row: its last number is cut to a value no meter sent.
    QFile torn(path);
    QVERIFY(torn.open(QIODevice::WriteOnly));
    torn.write(historyHeader.toUtf8()
        + "\n2026-12-08T09:00:00+00:00,5002,1520,3275,860,12400,402600\n"
          "2026-12-08T09:00:10+00:00,5002,1520,32");
    torn.close();

    HistoryFiles files(dir.path(), std::nullopt);
    const QDateTime at(QDate(2026, 12, 8), QTime(9, 0, 20), Qt::UTC);
    QCOMPARE(files.append(readingAt(at, allConfirmed)), QString());
    const auto lines = linesOf(path);
    QCOMPARE(lines,
        (QStringList {historyHeader, "2026-12-08T09:00:00+00:00,5002,1520,3275,860,12400,402600",
            "2026-12-08T09:00:20+00:00,5002,1520,3275,860,12400,402600"}));
}

void HistoryFilesTest::aFullDiskLeavesNoPartOfARow()
{
    const ScopedTimeZone zone("UTC");
    QTemporaryDir dir;
    HistoryFiles files(dir.path(), std::nullopt);
    const QDateTime at(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);
    QCOMPARE(files.append(readingAt(at, allConfirmed)), QString());
    const QString path = files.pathFor(at.date());
    const auto sizeBefore = QFileInfo(path).size();

    // A disk that takes a few bytes more and no more: the write fails, even for root.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit almostFull {rlim_t(sizeBefore + 20), limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &almostFull);
    const QString failure = files.append(readingAt(at.addSecs(10), allConfirmed));
    setrlimit(RLIMIT_FSIZE, &limit);
    QVERIFY(!failure.isEmpty());
    QCOMPARE(QFileInfo(path).size(), sizeBefore);

    // Room again: rows go on.
    QCOMPARE(files.append(readingAt(at.addSecs(20), allConfirmed)), QString());
    QCOMPARE(linesOf(path).size(), 3);
}

void HistoryFilesTest::oldFilesAreRemoved()
{
    const ScopedTimeZone zone("UTC");
    QTemporaryDir dir;
    for (const char *name : {"meterlog-2026-11-01.csv", "meterlog-2026-12-05.csv",
             "meterlog-2026-12-06.csv", "notes.csv", "meterlog-backup.csv"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    HistoryFiles files(dir.path(), 2);
    const QDateTime at(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC);
    QCOMPARE(files.append(readingAt(at, allConfirmed)), QString());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
        (QStringList {"meterlog-2026-12-06.csv", "meterlog-2026-12-08.csv", "meterlog-backup.csv",
            "notes.csv"}));
}

QTEST_GUILESS_MAIN(HistoryFilesTest)
#include "tst_historyfiles.moc"

// Two lines on one PC: two meterlog processes, each started headless with its own --port and
// --folder, each polling its own meter-sim (on a serial line or behind a gateway), each keeping
// its own snapshot file.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "tests/support/documentedvalues.h"
#include "tests/support/metersimprocess.h"
#include "tests/support/windowonline.h"

class TwoLinesTest : public QObject
{
    Q_OBJECT

private slots:
    void eachProcessPollsItsOwnLine_data();
    void eachProcessPollsItsOwnLine();
};

void TwoLinesTest::eachProcessPollsItsOwnLine_data()
{
    // Each simulator's serial line is linked in a folder of its own.
    QTest::addColumn<QString>("firstLink");
    QTest::addColumn<QString>("secondLink");
    QTest::newRow("two serial lines") << ""
                                      << "";
    // A Modbus TCP gateway and a transparent one, each on a port of its own.
    QTest::newRow("two gateways") << "--tcp 0"
                                  << "--rtu-tcp 0";
}

void TwoLinesTest::eachProcessPollsItsOwnLine()
{
    // The second line's meter 3 never answers, so the two files cannot be mistaken for each
    // other.
    QFETCH(QString, firstLink);
    QFETCH(QString, secondLink);
    MeterSimProcess first(simOptions(qPrintable("--static " + firstLink)));
    MeterSimProcess second(simOptions(qPrintable("--static --fault 3:silent " + secondLink)));
    QVERIFY(first.start());
    QVERIFY(second.start());

    QTemporaryDir folders[2];
    QProcess loggers[2];
    const MeterSimProcess *sims[2] = {&first, &second};
    for (int line = 0; line < 2; ++line) {
        loggers[line].start(METERLOG_PATH,
            {"--headless", "--port", sims[line]->endpoint(), "--folder", folders[line].path()});
        QVERIFY(loggers[line].waitForStarted());
    }
    QTRY_COMPARE_WITH_TIMEOUT(readSnapshot(folders[0].path()), documented::snapshotFile(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(
        readSnapshot(folders[1].path()), documented::snapshotFile({3}), 10000);

    // A service is stopped with SIGTERM: each ends cleanly, having said nothing was wrong but
    // the silent meter.
    for (int line = 0; line < 2; ++line) {
        ::kill(pid_t(loggers[line].processId()), SIGTERM);
        QVERIFY(loggers[line].waitForFinished(5000));
        QCOMPARE(loggers[line].exitStatus(), QProcess::NormalExit);
        QCOMPARE(loggers[line].exitCode(), 0);
    }
    const auto warnings = [](QProcess &logger) {
        return QString::fromLocal8Bit(logger.readAllStandardError())
            .split(u'\n')
            .filter(" warning meterlog.");
    };
    QCOMPARE(warnings(loggers[0]), QStringList());
    const auto secondWarnings = warnings(loggers[1]);
    QCOMPARE(secondWarnings.size(), 1);
    QVERIFY2(secondWarnings[0].contains("meterlog.scan: M3 (address 3) does not answer: "),
        qPrintable(secondWarnings[0]));
}

QTEST_GUILESS_MAIN(TwoLinesTest)
#include "tst_twolines.moc"

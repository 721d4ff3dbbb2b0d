// meterlog against meter-sim, with one meter misbehaving at a time and with the cable pulled
// during polling: the faulty meter's column keeps its texts, the healthy ones fill, and the
// snapshot file carries only values the simulator held.

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/form1.h"
#include "table/registergrid.h"
#include "tests/support/documentedvalues.h"
#include "tests/support/metersimprocess.h"
#include "tests/support/windowonline.h"

using namespace meterlog;

namespace {

QString cellOf(const Form1 &form, int row, int meter)
{
    return form.tabel->cellText(row, meter + 1).value_or("<outside>");
}

QString documentedCell(int row, int meter)
{
    return QStringLiteral(" %1").arg(documented::block[meter - 1][row - 1]);
}

} // namespace

class AgainstSimulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void faultyMeterKeepsItsColumn_data();
    void faultyMeterKeepsItsColumn();
    void slowMeterNeverShiftsWordsIntoAnotherColumn();
    void cablePulledWhilePollingThenConnectAgain();
    void pacedRepliesWakeTheWaitAFewTimes();
};

void AgainstSimulatorTest::faultyMeterKeepsItsColumn_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("meter");
    for (const char *fault :
        {"silent", "bad-crc", "truncated", "wrong-address", "exception", "noise"})
        QTest::newRow(fault) << QString(fault) << 3;
    // The frequency comes from meter 5 alone.
    QTest::newRow("silent frequency meter") << QStringLiteral("silent") << 5;
}

void AgainstSimulatorTest::faultyMeterKeepsItsColumn()
{
    QFETCH(QString, fault);
    QFETCH(int, meter);
    MeterSimProcess sim({"--static", "--fault", QStringLiteral("%1:%2").arg(meter).arg(fault)});
    QVERIFY(sim.start());

    Form1 form(sim.folder());
    form.Form_Load();
    form.Timer3->stop();
    QVERIFY(form.port().portOpen());
    for (int scan = 0; scan < 3; ++scan)
        form.cmdTest_Click();
    form.Command1_Click();

    for (int m = 1; m <= 5; ++m) {
        for (int row = 1; row <= 12; ++row)
            QCOMPARE(cellOf(form, row, m), m == meter ? QString() : documentedCell(row, m));
    }
    QCOMPARE(readSnapshot(sim.folder()), documented::snapshotFile({meter}));
}

void AgainstSimulatorTest::slowMeterNeverShiftsWordsIntoAnotherColumn()
{
    // Meter 3 answers after the limit. Its late reply meets the next slot's request or, when it
    // comes during the next scan's wait for meter 3, answers that identical request: either way
    // every cell holds what the meter of its column holds.
    MeterSimProcess sim({"--static", "--fault", "3:slow"});
    QVERIFY(sim.start());
    Form1 form(sim.folder());
    form.Form_Load();
    form.Timer3->stop();
    for (int scan = 0; scan < 4; ++scan) {
        form.cmdTest_Click();
        for (int m = 1; m <= 5; ++m) {
            for (int row = 1; row <= 12; ++row) {
                const auto cell = cellOf(form, row, m);
                QVERIFY2(cell == documentedCell(row, m) || (m == 3 && cell.isEmpty()),
                    qPrintable(QStringLiteral("meter %1 row %2: %3").arg(m).arg(row).arg(cell)));
            }
        }
    }
}

void AgainstSimulatorTest::cablePulledWhilePollingThenConnectAgain()
{
    MeterSimProcess sim({"--static", "--cable-pull", "1:1"});
    QVERIFY(sim.start());
    Form1 form(sim.folder());
    form.Form_Load();
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
    QTRY_COMPARE(cellOf(form, 1, 1), documentedCell(1, 1));

    // The cable goes while the poll timer keeps scanning: the port closes, the window lives on.
    QTRY_COMPARE_WITH_TIMEOUT(form.cmd_coneck->text(), QStringLiteral("Connect"), 5000);
    QVERIFY(!form.port().portOpen());
    QVERIFY(sim.waitForReadyLines(2));

    // Back under the same link: one click and polling goes on.
    for (int meter = 1; meter <= 5; ++meter)
        form.tabel->setCellText(1, meter + 1, QString());
    form.cmd_coneck->click();
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
    for (int meter = 1; meter <= 5; ++meter)
        QTRY_COMPARE(cellOf(form, 1, meter), documentedCell(1, meter));
}

void AgainstSimulatorTest::pacedRepliesWakeTheWaitAFewTimes()
{
    // The simulator paces its 29-byte replies a byte at a time, as a 38400-baud line does.
    MeterSimProcess sim({"--static"});
    QVERIFY(sim.start());
    Form1 form(sim.folder());
    form.Form_Load();
    form.Timer3->stop();
    QSignalSpy woken(&form.port(), &SerialComm::bytesArrived);
    constexpr int scans = 8;
    for (int scan = 0; scan < scans; ++scan)
        form.cmdTest_Click();
    for (int meter = 1; meter <= 5; ++meter)
        QCOMPARE(cellOf(form, 12, meter), documentedCell(12, meter));
    // A few times a reply (two, at times three), not once a byte.
    QVERIFY2(woken.count() <= 3 * scans * 5, qPrintable(QString::number(woken.count())));
}

QTEST_MAIN(AgainstSimulatorTest)
#include "tst_againstsimulator.moc"

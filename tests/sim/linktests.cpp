// The link through which a master finds meter-sim: made, replaced, removed, and pulled.
#include "tests/sim/testmetersim.h"

#include "tests/sim/rawline.h"
#include "tests/support/documentedvalues.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>

void TestMeterSim::stopSignalRemovesTheLink_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestMeterSim::stopSignalRemovesTheLink()
{
    QFETCH(int, signalNumber);
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    QVERIFY(sim.hasLink());
    QVERIFY(sim.stop(signalNumber));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!sim.hasLink());
}

void TestMeterSim::staleLinkIsReplaced()
{
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyGone"), sim.linkPath()));
    QVERIFY(sim.start());
    QCOMPARE(QFileInfo(sim.linkPath()).symLinkTarget(), sim.slaveDevices().first());
}

void TestMeterSim::fileInTheWayIsLeftAlone()
{
    MeterSimProcess sim(simOptions("--static"));
    QFile inTheWay(sim.linkPath());
    QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.write("keep me");
    inTheWay.close();
    QVERIFY(!sim.start());
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.exitCode(), 1);
    QVERIFY(inTheWay.open(QIODevice::ReadOnly));
    QCOMPARE(inTheWay.readAll(), QByteArray("keep me"));
}

void TestMeterSim::cablePullDropsTheLineAndComesBackOnANewDevice()
{
    MeterSimProcess sim(simOptions("--static --cable-pull 1:0.5"));
    QVERIFY(sim.start());
    RawLine heldOpen;
    QVERIFY(heldOpen.open(sim.linkPath()));
    QTRY_VERIFY_WITH_TIMEOUT(!sim.hasLink(), testTimeouts::linkChangeMs);
    // A master holding the device open notices the pull, as with an unplugged adapter.
    QVERIFY(heldOpen.hungUp());
    QVERIFY(sim.waitForReadyLines(2));
    QCOMPARE(QFileInfo(sim.linkPath()).symLinkTarget(), sim.slaveDevices().at(1));
    const auto reading = readDefaultBlock(sim, 1, testTimeouts::answerSeconds);
    QVERIFY2(reading.exitCode == 0, qPrintable(reading.failure));
    QCOMPARE(reading.values, documented::block.at(0));
}

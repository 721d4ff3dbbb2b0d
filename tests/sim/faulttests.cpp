// meter-sim's faults on demand, and its values when time is not frozen.
#include "tests/sim/testmetersim.h"

#include "tests/sim/rawline.h"
#include "tests/support/documentedvalues.h"

#include <QTest>

namespace {
constexpr int energyGrowthTimeoutMs = 10'000;
// The README promises a drift of a few hundredths of a hertz at most.
constexpr int frequencyDriftCentiHertz = 4;
// Enough to tell that a slow meter has not answered yet, well short of its 0.7 s.
constexpr std::chrono::milliseconds shortQuiet {50};
constexpr std::chrono::milliseconds slowReplyWait {2000};
} // namespace

void TestMeterSim::silentAndBadCrcMetersLeaveTheOthersAnswering()
{
    MeterSimProcess sim(simOptions("--static --fault 3:silent --fault 2:bad-crc"));
    QVERIFY(sim.start());
    const auto silent = readDefaultBlock(sim, 3, testTimeouts::silenceSeconds);
    QCOMPARE(silent.failure, mbpollTimedOut);
    const auto corrupted = readDefaultBlock(sim, 2, testTimeouts::silenceSeconds);
    QVERIFY2(
        corrupted.failure == QLatin1String("Invalid CRC") || corrupted.failure == mbpollTimedOut,
        qPrintable(corrupted.failure));
    QVERIFY(corrupted.values.isEmpty());
    for (const int meter : {1, 4, 5}) {
        const auto reading = readDefaultBlock(sim, meter, testTimeouts::answerSeconds);
        QVERIFY2(reading.exitCode == 0, qPrintable(reading.failure));
        QCOMPARE(reading.values, documented::block.at(meter - 1));
    }
}

void TestMeterSim::faultsShapeTheReplyBytes_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("noiseBefore");
    QTest::addColumn<int>("noiseAfter");
    const auto row
        = [](const char *name, const char *request, const char *reply, int before, int after) {
              QTest::newRow(name) << QByteArray::fromHex(request) << QByteArray::fromHex(reply)
                                  << before << after;
          };
    row("wrong address: meter 1 answers as 11", "01030fb3000176f9", "0b03021386acd7", 0, 0);
    row("exception: server device failure", "03030fb30001771b", "038304e133", 0, 0);
    row("truncated: first half of 7 bytes", "04030fb3000176ac", "040302", 0, 0);
    row("noise: 3 bytes before, 2 after", "05030fb30001777d", "050302138ac513", 3, 2);
    row("healthy meter between them", "02030fb3000176ca", "020302138930d2", 0, 0);
}

void TestMeterSim::faultsShapeTheReplyBytes()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, noiseBefore);
    QFETCH(int, noiseAfter);
    MeterSimProcess sim(simOptions("--static --fault 1:wrong-address --fault 3:exception "
                                   "--fault 4:truncated --fault 5:noise --seed 7"));
    QVERIFY(sim.start());
    RawLine line;
    QVERIFY(line.open(sim.linkPath()));
    const QByteArray received = line.exchange(request);
    QCOMPARE(received.size(), noiseBefore + reply.size() + noiseAfter);
    QCOMPARE(received.mid(noiseBefore, reply.size()).toHex(' '), reply.toHex(' '));
}

void TestMeterSim::slowMeterAnswersOnlyAfterTheMastersLimit()
{
    MeterSimProcess sim(simOptions("--static --fault 2:slow"));
    QVERIFY(sim.start());
    const auto patient = readDefaultBlock(sim, 2, testTimeouts::answerSeconds);
    QVERIFY2(patient.exitCode == 0, qPrintable(patient.failure));
    QCOMPARE(patient.values, documented::block.at(1));
    const auto strict = readDefaultBlock(sim, 2, testTimeouts::masterLimitSeconds);
    QCOMPARE(strict.failure, mbpollTimedOut);
}

void TestMeterSim::promptMeterAnswersWhileASlowReplyIsPending()
{
    MeterSimProcess sim(simOptions("--static --fault 2:slow"));
    QVERIFY(sim.start());
    RawLine line;
    QVERIFY(line.open(sim.linkPath()));
    // Register 4019 of meters 2 and 1; CRCs from pymodbus.
    const QByteArray slowReply = QByteArray::fromHex("020302138930d2");
    const QByteArray promptReply = QByteArray::fromHex("010302138634d6");
    QVERIFY(line.exchange(QByteArray::fromHex("02030fb3000176ca"), shortQuiet).isEmpty());
    QCOMPARE(
        line.exchange(QByteArray::fromHex("01030fb3000176f9")).toHex(' '), promptReply.toHex(' '));
    QCOMPARE(line.receive(slowReplyWait).toHex(' '), slowReply.toHex(' '));
}

void TestMeterSim::valuesMoveWithTimeWithoutStatic()
{
    MeterSimProcess sim(QStringList {});
    QVERIFY(sim.start());
    const auto readMeter5
        = [&sim] { return readDefaultBlock(sim, 5, testTimeouts::answerSeconds).values; };
    const auto energy = [](const QList<int> &block) {
        return block.size() == documented::blockCount
            ? (qint64(block.at(documented::energyHighIndex)) << 16)
                + block.at(documented::energyHighIndex + 1)
            : qint64(-1);
    };
    const QList<int> first = readMeter5();
    QCOMPARE(first.size(), documented::blockCount);
    const QList<int> &start = documented::block.at(4);
    // Meter 5 draws about 400 kW, so its counter gains over 100 Wh a second.
    QVERIFY(energy(first) >= energy(start));
    QTRY_VERIFY_WITH_TIMEOUT(energy(readMeter5()) > energy(first), energyGrowthTimeoutMs);
    const int frequency = first.at(documented::frequencyIndex);
    QVERIFY(qAbs(frequency - start.at(documented::frequencyIndex)) <= frequencyDriftCentiHertz);
}

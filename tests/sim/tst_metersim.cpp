// The register map and the protocol of meter-sim, from healthy simulators started with --static.
#include "tests/sim/testmetersim.h"

#include "tests/sim/mbpoll.h"
#include "tests/sim/rawline.h"
#include "tests/support/documentedvalues.h"
#include "tests/support/outsidetools.h"

#include <QFileInfo>
#include <QTest>
#include <bit>

QStringList simOptionsOn(const QString &link, const char *commandLine)
{
    QStringList options;
    if (link == simLink::modbusTcp)
        options << QStringLiteral("--tcp") << QStringLiteral("0");
    else if (link == simLink::rtuOverTcp)
        options << QStringLiteral("--rtu-tcp") << QStringLiteral("0");
    return options + simOptions(commandLine);
}

MasterReading readDefaultBlock(const MeterSimProcess &sim, int meter, double timeoutSeconds)
{
    return readRegisters(
        sim.endpoint(), meter, documented::blockReference, documented::blockCount, timeoutSeconds);
}

void TestMeterSim::initTestCase()
{
    QVERIFY2(!mbpollPath().isEmpty(), "mbpoll is not installed (Debian package mbpoll)");
    const QString noPymodbus
        = missingPythonModule(QStringLiteral("pymodbus"), QStringLiteral("python3-pymodbus"));
    QVERIFY2(noPymodbus.isEmpty(), qPrintable(noPymodbus));
    QVERIFY2(QFileInfo::exists(QStringLiteral(METER_SIM_PATH)), METER_SIM_PATH);
    for (const QString &link : simLink::all) {
        auto sim = std::make_unique<MeterSimProcess>(simOptionsOn(link, "--static"));
        QVERIFY2(sim->start(), qPrintable(sim->errorOutput()));
        m_healthy.emplace(link, std::move(sim));
    }
    const MeterSimProcess &onTerminal = healthy(simLink::pseudoTerminal);
    QCOMPARE(QFileInfo(onTerminal.linkPath()).symLinkTarget(), onTerminal.slaveDevices().first());
}

void TestMeterSim::documentedStaticValues_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("meter");
    QTest::addColumn<int>("reference");
    QTest::addColumn<QList<int>>("expected");
    for (const QString &link : simLink::all) {
        const QByteArray name = link.toLatin1();
        const char *on = name.constData();
        for (int meter = 1; meter <= 5; ++meter) {
            QTest::addRow("%s: meter %d, default block", on, meter)
                << link << meter << documented::blockReference << documented::block.at(meter - 1);
            QTest::addRow("%s: meter %d, identity", on, meter)
                << link << meter << 4001 << documented::identity(meter);
        }
        QTest::addRow("%s: meter 5, 32-bit values after the block", on)
            << link << 5 << 4024 << documented::meter5Extras;
        QTest::addRow("%s: reserved registers read 0", on)
            << link << 2 << 4029 << QList<int> {0, 0, 0};
    }
}

void TestMeterSim::documentedStaticValues()
{
    QFETCH(QString, link);
    QFETCH(int, meter);
    QFETCH(int, reference);
    QFETCH(QList<int>, expected);
    const auto reading = readRegisters(healthy(link).endpoint(), meter, reference,
        static_cast<int>(expected.size()), testTimeouts::answerSeconds);
    QVERIFY(reading.ran);
    QVERIFY2(reading.exitCode == 0, qPrintable(reading.failure));
    QCOMPARE(reading.references.value(0), reference);
    QCOMPARE(reading.values, expected);
}

void TestMeterSim::blocksAtTheEdgesOfTheMap_data()
{
    QTest::addColumn<int>("reference");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("inside");
    QTest::newRow("whole map 4000..4099") << 4001 << 100 << true;
    QTest::newRow("last register alone") << 4100 << 1 << true;
    QTest::newRow("one past the end") << 4100 << 2 << false;
    QTest::newRow("one before the start") << 4000 << 1 << false;
    QTest::newRow("125 registers from the start") << 4001 << 125 << false;
    QTest::newRow("far below the map") << 1 << 12 << false;
}

void TestMeterSim::blocksAtTheEdgesOfTheMap()
{
    QFETCH(int, reference);
    QFETCH(int, count);
    QFETCH(bool, inside);
    const auto reading = readRegisters(healthy(simLink::pseudoTerminal).endpoint(), 4, reference,
        count, testTimeouts::answerSeconds);
    QVERIFY(reading.ran);
    if (inside) {
        QVERIFY2(reading.exitCode == 0, qPrintable(reading.failure));
        QCOMPARE(reading.values.size(), count);
    } else {
        QVERIFY(reading.exitCode != 0);
        QCOMPARE(reading.failure, QStringLiteral("Illegal data address"));
        QVERIFY(reading.values.isEmpty());
    }
}

void TestMeterSim::onlyFunctionThreeIsServed()
{
    const auto reading
        = readRegisters(healthy(simLink::pseudoTerminal).endpoint(), 1, documented::blockReference,
            documented::blockCount, testTimeouts::answerSeconds, RegisterTable::Input);
    QVERIFY(reading.ran);
    QCOMPARE(reading.failure, QStringLiteral("Illegal function"));
}

void TestMeterSim::typedMetersAnswerAsTheirTypesSay()
{
    // Meter 2 an SDM630 (input registers, floats), meter 4 an ABB B23 (holding registers,
    // tenths of a volt), as mbpoll reads them.
    MeterSimProcess sim(simOptions("--static --type 2:sdm630 --type 4:abb-b23"));
    QVERIFY(sim.start());
    const auto read = [&](int meter, int reference, int count, RegisterTable table) {
        return readRegisters(
            sim.endpoint(), meter, reference, count, testTimeouts::answerSeconds, table);
    };
    const auto sdm = read(2, 1, 2, RegisterTable::Input);
    QVERIFY2(sdm.values.size() == 2, qPrintable(sdm.failure));
    const float volts = std::bit_cast<float>(std::uint32_t(sdm.values[0] << 16 | sdm.values[1]));
    QVERIFY2(volts > 220 && volts < 240, qPrintable(QString::number(volts)));
    const auto abb = read(4, 0x5B00 + 1, 2, RegisterTable::Holding);
    QVERIFY2(abb.values.size() == 2, qPrintable(abb.failure));
    const double abbVolts
        = (std::uint32_t(abb.values[0]) << 16 | std::uint32_t(abb.values[1])) / 10.0;
    QVERIFY2(abbVolts > 220 && abbVolts < 240, qPrintable(QString::number(abbVolts)));
    // Only what the type's blocks hold, with the type's functions.
    QCOMPARE(
        read(4, 0x5B00 + 1, 2, RegisterTable::Input).failure, QStringLiteral("Illegal function"));
    QCOMPARE(read(2, 1, 2, RegisterTable::Holding).failure, QStringLiteral("Illegal data address"));
    QCOMPARE(read(2, 75, 4, RegisterTable::Input).failure, QStringLiteral("Illegal data address"));
    // Their makers' identification codes, as their type files accept them.
    QCOMPARE(read(2, 0xFC02 + 1, 1, RegisterTable::Holding).values, QList<int> {0x0070});
    QCOMPARE(read(4, 0x8960 + 1, 2, RegisterTable::Holding).values, (QList<int> {0x4232, 0x3320}));
    QCOMPARE(read(2, 0xFC00 + 1, 2, RegisterTable::Holding).values.size(), 2);
    // The other meters are the documented ones.
    QCOMPARE(
        read(1, documented::blockReference, documented::blockCount, RegisterTable::Holding).values,
        documented::block.at(0));
}

void TestMeterSim::aLineOfMoreMeters()
{
    // Types by a range of addresses; meters past 5 of the default kind repeat 1 to 5's readings.
    MeterSimProcess sim(simOptions("--static --meters 32 --type 6-17:sdm120"));
    QVERIFY(sim.start());
    const auto read = [&](int meter, RegisterTable table) {
        return readRegisters(sim.endpoint(), meter, documented::blockReference,
            documented::blockCount, testTimeouts::answerSeconds, table);
    };
    QCOMPARE(read(32, RegisterTable::Holding).values, documented::block.at(1));
    QCOMPARE(read(17, RegisterTable::Holding).failure, QStringLiteral("Illegal data address"));
    QCOMPARE(read(18, RegisterTable::Holding).values, documented::block.at(2));
    const auto beyond = readRegisters(sim.endpoint(), 33, documented::blockReference,
        documented::blockCount, testTimeouts::silenceSeconds);
    QCOMPARE(beyond.failure, mbpollTimedOut);
}

void TestMeterSim::typedMeterKeepsToItsLimitPerRead_data()
{
    // An EM24 answers at most 11 registers in one read; its currents and powers by phase,
    // 000Ch-0017h, are one block of 12, which meterlog reads a few fields at a time.
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("failure");
    QTest::newRow("11 registers from inside a block") << 0x0D << 11 << QString();
    QTest::newRow("12 registers, one over its limit")
        << 0x0C << 12 << QStringLiteral("Illegal data value");
}

void TestMeterSim::typedMeterKeepsToItsLimitPerRead()
{
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, failure);
    MeterSimProcess sim(simOptions("--static --type 3:em24"));
    QVERIFY(sim.start());
    const auto reading = readRegisters(
        sim.endpoint(), 3, start + 1, count, testTimeouts::answerSeconds, RegisterTable::Input);
    QVERIFY(reading.ran);
    QCOMPARE(reading.failure, failure);
    if (!failure.isEmpty())
        return;
    QCOMPARE(reading.values.size(), count);
    // The current of L2 at 000Eh, mA with the low word first: the read's second and third words.
    const double amps = (std::uint32_t(reading.values[2]) << 16 | reading.values[1]) / 1000.0;
    QVERIFY2(amps > 6 && amps < 10, qPrintable(QString::number(amps)));
}

void TestMeterSim::otherAddressesGetNoAnswer_data()
{
    QTest::addColumn<int>("address");
    QTest::newRow("next to the meters") << 6;
    QTest::newRow("far away") << 200;
}

void TestMeterSim::otherAddressesGetNoAnswer()
{
    QFETCH(int, address);
    const auto reading
        = readDefaultBlock(healthy(simLink::pseudoTerminal), address, testTimeouts::silenceSeconds);
    QVERIFY(reading.ran);
    QCOMPARE(reading.failure, mbpollTimedOut);
}

// Request and reply bytes, CRCs included, were made with pymodbus's CRC, not the simulator's. A
// transparent gateway passes the same frames as the pseudo-terminal.
void TestMeterSim::byteLevelReplies_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    for (const QString &link : {simLink::pseudoTerminal, simLink::rtuOverTcp}) {
        const auto row = [&link](const char *name, const char *request, const char *reply) {
            QTest::addRow("%s: %s", qPrintable(link), name)
                << link << QByteArray::fromHex(request) << QByteArray::fromHex(reply);
        };
        row("one register, exact bytes", "02030fb3000176ca", "020302138930d2");
        row("identity registers", "01030fa00002c73d", "01030400010104aba0");
        row("count 0 is an illegal value", "01030fab0000373e", "0183030131");
        row("count 126 is an illegal value", "01030fab007eb71e", "0183030131");
        row("count 125 past the map is an illegal address", "01030fab007df71f", "018302c0f1");
        row("function 3 one byte too long", "01030fab000c007ad6", "0183030131");
        row("write function is illegal", "02100fab000102138ad8ec", "0290017dc0");
        row("broadcast is not answered", "00030fab000c36ea", "");
        row("other address is not answered", "06030fab000c368c", "");
        row("bad CRC is not answered", "01030fab000c373c", "");
        row("too short to be a frame", "0103", "");
    }
}

void TestMeterSim::byteLevelReplies()
{
    QFETCH(QString, link);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    RawLine line;
    QVERIFY(line.open(healthy(link).endpoint()));
    QCOMPARE(line.exchange(request).toHex(' '), reply.toHex(' '));
}

QTEST_GUILESS_MAIN(TestMeterSim)

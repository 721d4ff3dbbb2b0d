// meter-sim behind its simulated gateways: a Modbus TCP gateway (MBAP frames, and exception 0B for
// a meter that gives it no usable reply) and a transparent one (the line's RTU frames as they
// are), with several clients, the drop fault and a gateway restart.
#include "tests/sim/testmetersim.h"

#include "tests/sim/rawline.h"
#include "tests/support/documentedvalues.h"

#include <QTest>

#include <array>

namespace {

// libmodbus's words for exception 0B.
const QString gatewayTargetFailed = QStringLiteral("Target device failed to respond");
// The rest of a frame is given up after half a second; this leaves room for a busy machine.
constexpr std::chrono::milliseconds pastAnIncompleteFrame {1000};
constexpr std::chrono::milliseconds replyWithin {2000};

// A read of register 4019 (the frequency) from each meter: the RTU frames with the CRCs pymodbus
// computes, and the PDU of the reply, which a Modbus TCP gateway forwards without its CRC.
struct FrequencyRead
{
    const char *rtuRequest;
    const char *rtuReply;
    const char *replyPdu;
};
constexpr const char *frequencyRequestPdu = "030fb30001";
constexpr std::array<FrequencyRead, 5> frequencyReads {{
    {"01030fb3000176f9", "010302138634d6", "03021386"},
    {"02030fb3000176ca", "020302138930d2", "03021389"},
    {"03030fb30001771b", "0303021388ccd2", "03021388"},
    {"04030fb3000176ac", "04030213873916", "03021387"},
    {"05030fb30001777d", "050302138ac513", "0302138a"},
}};

// An MBAP frame: transaction id, protocol id 0, the length of unit id and PDU, unit id, PDU.
QByteArray mbap(int transactionId, int unit, const char *pduHex)
{
    const QByteArray pdu = QByteArray::fromHex(pduHex);
    const auto length = pdu.size() + 1;
    QByteArray frame;
    frame.append(char(transactionId >> 8)).append(char(transactionId & 0xFF));
    frame.append(2, '\0');
    frame.append(char(length >> 8)).append(char(length & 0xFF));
    frame.append(char(unit));
    return frame + pdu;
}

QByteArray frequencyRequest(const QString &link, int meter, int transactionId)
{
    const FrequencyRead &read = frequencyReads.at(static_cast<std::size_t>(meter - 1));
    return link == simLink::modbusTcp ? mbap(transactionId, meter, frequencyRequestPdu)
                                      : QByteArray::fromHex(read.rtuRequest);
}

QByteArray frequencyReply(const QString &link, int meter, int transactionId)
{
    const FrequencyRead &read = frequencyReads.at(static_cast<std::size_t>(meter - 1));
    return link == simLink::modbusTcp ? mbap(transactionId, meter, read.replyPdu)
                                      : QByteArray::fromHex(read.rtuReply);
}

// One row for each gateway, for the cases both must handle alike.
void addGatewayRows()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("Modbus TCP") << simLink::modbusTcp;
    QTest::newRow("RTU over TCP") << simLink::rtuOverTcp;
}

} // namespace

void TestMeterSim::gatewayAnswersForItsMeters_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("meter");
    QTest::addColumn<bool>("inputRegisters");
    // Empty when the documented values come back.
    QTest::addColumn<QString>("failure");
    const auto row = [](const char *name, const QString &link, const char *options, int meter,
                         const QString &failure, bool input = false) {
        QTest::addRow("%s: %s", qPrintable(link), name)
            << link << QString::fromLatin1(options) << meter << input << failure;
    };
    const QString tcp = simLink::modbusTcp;
    row("no meter at unit 6", tcp, "", 6, gatewayTargetFailed);
    row("silent meter", tcp, "--fault 3:silent", 3, gatewayTargetFailed);
    row("reply with a bad CRC", tcp, "--fault 2:bad-crc", 2, gatewayTargetFailed);
    row("truncated reply", tcp, "--fault 4:truncated", 4, gatewayTargetFailed);
    row("noise around the reply", tcp, "--fault 5:noise", 5, gatewayTargetFailed);
    row("slow meter past the gateway's time-out", tcp, "--fault 2:slow", 2, gatewayTargetFailed);
    row("slow meter within a longer time-out", tcp, "--fault 2:slow --gateway-timeout-ms 1500", 2,
        QString());
    row("the meter's own exception passes", tcp, "--fault 1:exception", 1,
        QStringLiteral("Slave device or server failure"));
    row("function 4 is not served", tcp, "", 1, QStringLiteral("Illegal function"), true);
    row("silent gateway, no meter at unit 6", tcp, "--gateway-silent", 6, mbpollTimedOut);
    row("silent gateway, silent meter", tcp, "--gateway-silent --fault 3:silent", 3,
        mbpollTimedOut);
    const QString rtu = simLink::rtuOverTcp;
    row("no meter at unit 6 says nothing", rtu, "", 6, mbpollTimedOut);
    row("silent meter says nothing", rtu, "--fault 3:silent", 3, mbpollTimedOut);
    row("the meter's own exception passes", rtu, "--fault 1:exception", 1,
        QStringLiteral("Slave device or server failure"));
    row("function 4 is not served", rtu, "", 1, QStringLiteral("Illegal function"), true);
}

void TestMeterSim::gatewayAnswersForItsMeters()
{
    QFETCH(QString, link);
    QFETCH(QString, options);
    QFETCH(int, meter);
    QFETCH(bool, inputRegisters);
    QFETCH(QString, failure);
    MeterSimProcess sim(
        simOptionsOn(link, "--static") + options.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    QVERIFY(sim.start());
    const double timeout
        = failure == mbpollTimedOut ? testTimeouts::silenceSeconds : testTimeouts::answerSeconds;
    const auto reading
        = readRegisters(sim.endpoint(), meter, documented::blockReference, documented::blockCount,
            timeout, inputRegisters ? RegisterTable::Input : RegisterTable::Holding);
    QVERIFY(reading.ran);
    QCOMPARE(reading.failure, failure);
    if (failure.isEmpty())
        QCOMPARE(reading.values, documented::block.at(meter - 1));
    else
        QVERIFY(reading.values.isEmpty());
}

// Replies are made by hand from the documented values: Modbus TCP carries no CRC.
void TestMeterSim::mbapRepliesMatchTheirRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("transaction id and unit come back")
        << mbap(0x1234, 2, "030fb30001") << mbap(0x1234, 2, "03021389");
    QTest::newRow("highest transaction id")
        << mbap(0xFFFF, 1, "030fa00002") << mbap(0xFFFF, 1, "030400010104");
    QTest::newRow("count 0 is an illegal value") << mbap(7, 1, "030fab0000") << mbap(7, 1, "8303");
    QTest::newRow("write function is illegal")
        << mbap(8, 2, "100fab000102138a") << mbap(8, 2, "9001");
    QTest::newRow("two requests in one write, answered in order") << mbap(1, 1, "030fb30001")
            + mbap(2, 3, "030fb30001") << mbap(1, 1, "03021386") + mbap(2, 3, "03021388");
    QTest::newRow("another device's reply keeps its own unit id")
        << mbap(9, 5, "030fb30001") << mbap(9, 15, "0302138a");
    QTest::newRow("a broadcast is passed on, not answered")
        << mbap(10, 0, "030fb30001") << QByteArray();
}

void TestMeterSim::mbapRepliesMatchTheirRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    MeterSimProcess sim(simOptionsOn(simLink::modbusTcp, "--static --fault 5:wrong-address"));
    QVERIFY(sim.start());
    RawLine connection;
    QVERIFY(connection.open(sim.endpoint()));
    QCOMPARE(connection.exchange(request).toHex(' '), reply.toHex(' '));
}

void TestMeterSim::malformedMbapIsDroppedAndTheConnectionGoesOn_data()
{
    QTest::addColumn<QByteArray>("malformed");
    QTest::addColumn<std::chrono::milliseconds>("quiet");
    const auto row = [](const char *name, const char *hex, std::chrono::milliseconds quiet) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << quiet;
    };
    row("protocol id 1", "00070001000601030fb30001", RawLine::defaultQuiet);
    row("length 1 holds no function", "00080000000101", RawLine::defaultQuiet);
    row("length 255 is longer than any frame", "0009000000ff01030fb30001", RawLine::defaultQuiet);
    row("length promises more than comes", "000a0000000801030fb30001", pastAnIncompleteFrame);
}

void TestMeterSim::malformedMbapIsDroppedAndTheConnectionGoesOn()
{
    QFETCH(QByteArray, malformed);
    QFETCH(std::chrono::milliseconds, quiet);
    RawLine connection;
    QVERIFY(connection.open(healthy(simLink::modbusTcp).endpoint()));
    QVERIFY(connection.exchange(malformed, quiet).isEmpty());
    const QByteArray reply = connection.exchange(frequencyRequest(simLink::modbusTcp, 1, 11));
    QCOMPARE(reply.toHex(' '), frequencyReply(simLink::modbusTcp, 1, 11).toHex(' '));
}

void TestMeterSim::dropFaultClosesTheConnection_data()
{
    addGatewayRows();
}

void TestMeterSim::dropFaultClosesTheConnection()
{
    QFETCH(QString, link);
    MeterSimProcess sim(simOptionsOn(link, "--static --fault 4:drop"));
    QVERIFY(sim.start());
    RawLine dropped;
    QVERIFY(dropped.open(sim.endpoint()));
    QVERIFY(dropped.exchange(frequencyRequest(link, 4, 1)).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(dropped.hungUp(), testTimeouts::linkChangeMs);
    // Only that connection goes: the gateway takes the next client and answers it.
    RawLine next;
    QVERIFY(next.open(sim.endpoint()));
    QCOMPARE(next.exchange(frequencyRequest(link, 1, 2)).toHex(' '),
        frequencyReply(link, 1, 2).toHex(' '));
}

void TestMeterSim::gatewayRestartRefusesThenAcceptsAgain_data()
{
    addGatewayRows();
}

void TestMeterSim::gatewayRestartRefusesThenAcceptsAgain()
{
    QFETCH(QString, link);
    MeterSimProcess sim(simOptionsOn(link, "--static --cable-pull 1:2"));
    QVERIFY(sim.start());
    const QString address = sim.endpoint();
    RawLine heldOpen;
    QVERIFY(heldOpen.open(address));
    QTRY_VERIFY_WITH_TIMEOUT(heldOpen.hungUp(), testTimeouts::linkChangeMs);
    RawLine whileDown;
    QVERIFY(!whileDown.open(address));
    QVERIFY(sim.waitForReadyLines(2));
    QCOMPARE(sim.gatewayAddresses().at(1), address);
    const auto reading = readDefaultBlock(sim, 1, testTimeouts::answerSeconds);
    QVERIFY2(reading.exitCode == 0, qPrintable(reading.failure));
    QCOMPARE(reading.values, documented::block.at(0));
}

void TestMeterSim::clientsAtOnceEachGetTheirOwnReply_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("clients");
    for (const QString &link : {simLink::modbusTcp, simLink::rtuOverTcp}) {
        QTest::addRow("%s: two clients", qPrintable(link)) << link << 2;
        QTest::addRow("%s: eight clients", qPrintable(link)) << link << 8;
    }
}

void TestMeterSim::clientsAtOnceEachGetTheirOwnReply()
{
    QFETCH(QString, link);
    QFETCH(int, clients);
    const MeterSimProcess &sim = healthy(link);
    std::vector<std::unique_ptr<RawLine>> connections;
    const auto meterOf = [](int client) { return client % 5 + 1; };
    for (int client = 0; client < clients; ++client) {
        connections.push_back(std::make_unique<RawLine>());
        QVERIFY(connections.back()->open(sim.endpoint()));
    }
    // Every request is out before the first reply is read: the gateway has them all at once.
    for (int client = 0; client < clients; ++client)
        QVERIFY(
            connections.at(client)->send(frequencyRequest(link, meterOf(client), 100 + client)));
    for (int client = 0; client < clients; ++client) {
        QCOMPARE(connections.at(client)->receive(replyWithin).toHex(' '),
            frequencyReply(link, meterOf(client), 100 + client).toHex(' '));
    }
}

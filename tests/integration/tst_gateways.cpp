// The window behind gateways: Modbus TCP and RTU over TCP against pymodbus servers it had no hand
// in, and against a scripted gateway for what real ones do: going away and coming back, refusing,
// accepting and never answering, answering an earlier request late, answering for an absent meter.

#include <QCheckBox>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/form1.h"
#include "meters/metertypefile.h"
#include "table/registergrid.h"
#include "tests/support/logcapture.h"
#include "tests/support/outsidetools.h"
#include "tests/support/pymodbusserver.h"
#include "tests/support/scriptedgateway.h"
#include "tests/support/scriptedmeter.h"
#include "tests/support/windowonline.h"

using namespace meterlog;
using namespace std::chrono_literals;

namespace {

// Five pymodbus slaves behind one TCP port, in Modbus TCP ("tcp") or RTU over TCP ("rtu-tcp").
QStringList meterServer(const QString &mode, quint16 port)
{
    return {PYMODBUS_METERS_SCRIPT, "--" + mode, QString::number(port)};
}

// What the grid shows for holding register `row` of pymodbus slave `device`; its input registers
// hold 30000 more.
QString serverCell(int device, int row, int function = 3)
{
    const int inputOffset = function == 4 ? 30000 : 0;
    return QStringLiteral(" %1").arg(
        inputOffset + (row == 9 ? 5000 + device : device * 100 + row - 1));
}

} // namespace

class GatewaysTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void valuesFromAnIndependentServer_data();
    void valuesFromAnIndependentServer();
    void gatewayRestartedUnderARunningWindow();
    void refusedAtStartThenPolledOnceItListens();
    void gatewayThatNeverAnswersIsLostAndTriedAgain();
    void lateReplyToAnEarlierRequestIsNeverUsed();
    void absentMeterBehindAGatewayCountsAsATimeout();
    void typedMetersShowWhatTheyHold();

private:
    // The window on `url`, polling on its own unless `byHand` (then only slot 1 is ticked).
    Form1 &startUp(const QString &url, bool byHand = false, int function = 3);
    QString cell(int row, int meter) const
    {
        return m_form->tabel->cellText(row, RegisterGrid::firstSlotColumn + meter - 1)
            .value_or("<none>");
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<Form1> m_form;
};

void GatewaysTest::initTestCase()
{
    const auto missing = missingPythonModule("pymodbus", "python3-pymodbus");
    QVERIFY2(missing.isEmpty(), qPrintable(missing));
}

void GatewaysTest::cleanup()
{
    m_form.reset();
    m_folder.reset();
}

Form1 &GatewaysTest::startUp(const QString &url, bool byHand, int function)
{
    m_folder = std::make_unique<QTemporaryDir>();
    StartValues start = WindowOnLine::scriptedStart();
    start.port = url;
    start.readFunction = std::uint8_t(function);
    m_form = std::make_unique<Form1>(m_folder->path(), start);
    m_form->Form_Load();
    if (byHand) {
        m_form->Timer3->stop();
        for (int slot = 1; slot < slotCount; ++slot)
            m_form->cheAID[slot]->setCheckState(Qt::Unchecked);
    }
    return *m_form;
}

void GatewaysTest::valuesFromAnIndependentServer_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("function");
    QTest::newRow("Modbus TCP") << "tcp"
                                << "tcp" << 3;
    QTest::newRow("RTU over TCP") << "rtu-tcp"
                                  << "rtu+tcp" << 3;
    QTest::newRow("input registers, Modbus TCP") << "tcp"
                                                 << "tcp" << 4;
    QTest::newRow("input registers, RTU over TCP") << "rtu-tcp"
                                                   << "rtu+tcp" << 4;
}

void GatewaysTest::valuesFromAnIndependentServer()
{
    QFETCH(QString, mode);
    QFETCH(QString, scheme);
    QFETCH(int, function);
    const auto port = freeLoopbackPort();
    PymodbusServer server(meterServer(mode, port), port);
    QVERIFY(server.start());
    auto &form
        = startUp(QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port), false, function);

    // The poll timer does the rest: connect, scan, summary, file.
    if (function == 3) {
        const QByteArray expected(" 5005,6619238,13172938,19726638,26280338,32834038\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(readSnapshot(m_folder->path()), expected, 15000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(cell(12, 5), serverCell(5, 12, function), 15000);
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
    for (int meter = 1; meter <= slotCount; ++meter) {
        for (int row = 1; row <= 12; ++row)
            QCOMPARE(cell(row, meter), serverCell(meter, row, function));
    }
}

void GatewaysTest::gatewayRestartedUnderARunningWindow()
{
    const auto port = freeLoopbackPort();
    auto server = std::make_unique<PymodbusServer>(meterServer("tcp", port), port);
    QVERIFY(server->start());
    LogCapture log;
    auto &form = startUp(QStringLiteral("tcp://127.0.0.1:%1").arg(port));
    QTRY_COMPARE_WITH_TIMEOUT(cell(1, 1), serverCell(1, 1), 10000);

    server.reset();
    QTRY_COMPARE_WITH_TIMEOUT(form.cmd_coneck->text(), QStringLiteral("Connect"), 5000);
    server = std::make_unique<PymodbusServer>(meterServer("tcp", port), port);
    for (int meter = 1; meter <= slotCount; ++meter)
        form.tabel->setCellText(1, RegisterGrid::firstSlotColumn + meter - 1, QString());
    QVERIFY(server->start());
    // Tried again every 2 s: polling goes on by itself once the server listens again.
    QTRY_COMPARE_WITH_TIMEOUT(cell(1, 5), serverCell(5, 1), 3000);
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
    const auto said = log.lines("meterlog.port");
    QVERIFY2(said.filter(" lost: ").size() == 1 && said.filter(" open again").size() == 1,
        qPrintable(said.join(u'\n')));
}

void GatewaysTest::refusedAtStartThenPolledOnceItListens()
{
    LogCapture log;
    const auto port = freeLoopbackPort();
    auto &form = startUp(QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(port));
    QTRY_VERIFY(!log.lines("meterlog.port").filter("connection refused").isEmpty());
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("Connect"));
    QVERIFY(form.cmd_coneck->toolTip().contains("connection refused"));

    PymodbusServer server(meterServer("rtu-tcp", port), port);
    QVERIFY(server.start());
    QTRY_COMPARE_WITH_TIMEOUT(cell(1, 1), serverCell(1, 1), 5000);
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
    // The refusal was said once, however many tries it took.
    QCOMPARE(log.lines("meterlog.port").filter("connection refused").size(), 1);
}

void GatewaysTest::gatewayThatNeverAnswersIsLostAndTriedAgain()
{
    ScriptedGateway gateway([](const QByteArray &) { return QByteArray(); });
    LogCapture log;
    auto &form = startUp(gateway.url());
    // A meter that does not answer costs its limit; a whole scan's worth of silence is a
    // gateway gone silent: the connection goes, and is made again.
    QTRY_COMPARE_WITH_TIMEOUT(gateway.connections(), 2, 5000);
    QVERIFY(gateway.requests().size() >= TcpLink::silentRequestsBeforeLost);
    QCOMPARE(log.lines("meterlog.port").filter("no answer to 5 requests in a row").size(), 1);
    QCOMPARE(cell(1, 1), QString());
    QCOMPARE(form.health().counters(0).verifiedReplies, std::uint64_t(0));
}

void GatewaysTest::lateReplyToAnEarlierRequestIsNeverUsed()
{
    // The first request goes unanswered until the second comes: then its reply, with words no
    // meter holds, arrives right before the second's own.
    QByteArray first;
    ScriptedGateway gateway([&](const QByteArray &request) {
        if (first.isEmpty()) {
            first = request;
            return QByteArray();
        }
        const QByteArray late = mbapFrame(transactionOf(first), unitOf(first),
            QByteArray::fromHex("0318") + QByteArray(24, char(0x99)));
        return late + deviceCodedMbapReply(request);
    });
    auto &form = startUp(gateway.url(), true);
    QTRY_VERIFY(form.link().isOpen());
    form.cmdTest_Click();
    QCOMPARE(cell(1, 1), QString());
    form.cmdTest_Click();
    QCOMPARE(gateway.requests().size(), 2);
    QVERIFY(transactionOf(gateway.requests()[1]) != transactionOf(gateway.requests()[0]));
    for (int row = 1; row <= 12; ++row)
        QCOMPARE(cell(row, 1), deviceCodedCell(1, row));
    QCOMPARE(form.health().counters(0).timeouts, std::uint64_t(1));
    QCOMPARE(form.health().counters(0).verifiedReplies, std::uint64_t(1));
}

void GatewaysTest::absentMeterBehindAGatewayCountsAsATimeout()
{
    // Meter 1 is not there: the gateway says so with exception 0B at once.
    ScriptedGateway gateway([](const QByteArray &request) {
        return unitOf(request) == 1 ? mbapFrame(transactionOf(request), 1, "\x83\x0B")
                                    : deviceCodedMbapReply(request);
    });
    auto &form = startUp(gateway.url(), true);
    QTRY_VERIFY(form.link().isOpen());
    form.cheAID[1]->setCheckState(Qt::Checked);
    form.cmdTest_Click();
    const auto &absent = form.health().counters(0);
    QCOMPARE(absent.timeouts, std::uint64_t(1));
    QCOMPARE(absent.exceptionReplies, std::uint64_t(0));
    QCOMPARE(cell(1, 1), QString());
    QCOMPARE(cell(1, 2), deviceCodedCell(2, 1));
    QVERIFY(form.link().isOpen());
}

void GatewaysTest::typedMetersShowWhatTheyHold()
{
    // Every built-in type but the default, its registers laid out by Python's struct module.
    TypedMeterServer server(PYMODBUS_TYPED_METERS_SCRIPT);
    QVERIFY(server.start());
    const auto &expected = server.expected();

    m_folder = std::make_unique<QTemporaryDir>();
    StartValues start = WindowOnLine::scriptedStart();
    start.port = server.url();
    for (int slot = 0; slot < slotCount; ++slot)
        start.meterTypes[slot] = std::get<MeterType>(findMeterType(server.types()[slot]));
    m_form = std::make_unique<Form1>(m_folder->path(), start);
    m_form->Form_Load();
    // The window's range is not a typed meter's: a count no request can carry stops none.
    m_form->txt_jumlahData->setText(QStringLiteral("300"));
    QTRY_VERIFY_WITH_TIMEOUT(m_form->typedMeters().decoded(slotCount - 1).has_value(), 10000);
    m_form->Command1_Click();

    for (int slot = 0; slot < slotCount; ++slot) {
        const auto meter = expected[QString::number(slot + 1)].toObject();
        const auto &type = *m_form->typedMeters().typeOf(slot);
        for (const auto &field : type.fields) {
            QVERIFY2(meter.contains(field.name), qPrintable(type.name + ": " + field.name));
            const auto placed = meter[field.name];
            const auto value = m_form->typedMeters().valueOf(slot, field.name);
            const QString what
                = QStringLiteral("%1 %2: %3")
                      .arg(type.name, field.name,
                          value ? QString::number(*value, 'g', 12) : QStringLiteral("none"));
            if (placed.isNull()) {
                QVERIFY2(!value, qPrintable(what));
                continue;
            }
            // Within the type's resolution: half its scale, or a float's precision.
            const double resolution = std::max(field.scale / 2, std::abs(placed.toDouble()) * 1e-6);
            QVERIFY2(value && std::abs(*value - placed.toDouble()) <= resolution, qPrintable(what));
        }
        // The kW label: the power field in kW, to three decimals.
        const double kilowatts = m_form->lbkw[slot]->text().toDouble();
        QVERIFY2(std::abs(kilowatts - meter["power"].toDouble() / 1000) <= 0.0005,
            qPrintable(m_form->lbkw[slot]->text()));
    }
    // The column says what it shows: the type and its blocks.
    const QString tip = m_form->tabel->columnToolTip(RegisterGrid::firstSlotColumn + 3);
    QVERIFY2(tip.contains("Type abb-b23")
            && tip.contains("function 3: registers 20480-20487, 21600-21623, 23296-23357; "
                            "3 requests a scan"),
        qPrintable(tip));
    // The fifth meter's frequency in 1/100 Hz, as today's meters write it, then the kW labels,
    // in the snapshot as in the window.
    const QString frequency
        = QStringLiteral(" %1").arg(qRound(expected["5"]["frequency"].toDouble() * 100));
    QCOMPARE(m_form->lbfreq->text(), frequency);
    QStringList shown {frequency};
    for (int slot = 0; slot < slotCount; ++slot)
        shown << m_form->lbkw[slot]->text();
    const QString snapshot = readSnapshot(m_folder->path());
    QCOMPARE(snapshot, shown.join(u',') + QStringLiteral("\r\n"));
}

QTEST_MAIN(GatewaysTest)
#include "tst_gateways.moc"

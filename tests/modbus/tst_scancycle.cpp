// The scan cycle against devices played on a pseudo-terminal: what goes on the line, what reaches
// the columns, and how each slot is marked.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "modbus/scancycle.h"
#include "serial/serialcomm.h"
#include "tests/support/logcapture.h"
#include "tests/support/processsettings.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/scriptedmeter.h"

using namespace meterlog;

namespace {

struct FakeConsole : ScanConsole
{
    std::array<bool, slotCount> ticked {true, false, false, false, false};
    std::array<QString, slotCount> devices {"1", "2", "3", "4", "5"};
    QString start = QStringLiteral("4011");
    QString count = QStringLiteral("12");
    std::array<QList<SlotMark>, slotCount> marks;
    std::array<QList<QList<std::uint16_t>>, slotCount> stored;
    std::function<void(int)> onStore;
    std::array<QList<SlotReport>, slotCount> reports;

    bool slotTicked(int slot) const override { return ticked[slot]; }
    QString deviceAddressText(int slot) const override { return devices[slot]; }
    QString startAddressText() const override { return start; }
    QString registerCountText() const override { return count; }
    void showSlotMark(int slot, SlotMark mark) override { marks[slot].append(mark); }
    void storeRegisters(int slot, const ReadRequest &, const QList<std::uint16_t> &words) override
    {
        stored[slot].append(words);
        if (onStore)
            onStore(slot);
    }
    void reportSlot(int slot, const SlotReport &report) override { reports[slot].append(report); }
};

} // namespace

class ScanCycleTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaultRequestAndGoodReplyFillTheColumn();
    void slotOneDeviceTwoAtZero();
    void inputsAreReadAtEverySlot();
    void repliesThatAreNotVerifiedWriteNothing_data();
    void repliesThatAreNotVerifiedWriteNothing();
    void exceptionReplyEndsTheWaitAtOnce();
    void staleBytesAreDiscardedBeforeSending();
    void echoOfTheRequestIsSkipped();
    void lateReplyNeverLandsInAnotherColumn();
    void inputsThatDescribeNoRequestSendNothing_data();
    void inputsThatDescribeNoRequestSendNothing();
    void closedPortSendsNothingAndDoesNotWait();
    void lineHangingUpDuringTheWaitFailsTheSlot();
    void cancelStopsTheCycleAtOnce();
    void keepsAFrameGapBetweenReplyAndNextRequest_data();
    void keepsAFrameGapBetweenReplyAndNextRequest();
    void silenceWaitKeepsTheWindowLiveWhileTheLineTalks_data();
    void silenceWaitKeepsTheWindowLiveWhileTheLineTalks();
    void nestedScanKeepsEveryWordInItsOwnColumn();
    void traceShowsEveryFrameWithItsVerdict();

private:
    void useScript(ScriptedMeter::Script script);
    ScanResult scan(bool behindGateway = false)
    {
        return runScanCycle(
            m_console, *m_port, behindGateway ? m_gatewayFraming : m_framing, *m_cancel);
    }

    // Everything a test schedules takes this as its context; cleanup() destroys it, so nothing
    // of one test can fire in the next.
    std::unique_ptr<QObject> m_scheduled;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PseudoTerminal> m_line;
    std::unique_ptr<SerialComm> m_port;
    std::unique_ptr<ScriptedMeter> m_meter;
    FakeConsole m_console;
    CrcRoutine m_crc;
    RtuFraming m_framing {m_crc, FramePath::SerialLine};
    RtuFraming m_gatewayFraming {m_crc, FramePath::Gateway};
    std::unique_ptr<Cancellation> m_cancel;
};

void ScanCycleTest::init()
{
    m_scheduled = std::make_unique<QObject>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_line = std::make_unique<PseudoTerminal>();
    QVERIFY(m_line->isOpen());
    m_port = std::make_unique<SerialComm>(m_dir->path());
    QVERIFY(m_port->setSettings(u"38400,n,8,1"));
    QVERIFY(m_port->setDevicePath(m_line->devicePath()));
    QVERIFY(m_port->setPortOpen(true));
    m_console = FakeConsole {};
    m_cancel = std::make_unique<Cancellation>();
    m_crc.fillTable();
    useScript(deviceCodedReply);
}

void ScanCycleTest::cleanup()
{
    m_scheduled.reset();
    m_meter.reset();
    m_port.reset();
    m_line.reset();
}

void ScanCycleTest::useScript(ScriptedMeter::Script script)
{
    m_meter = std::make_unique<ScriptedMeter>(*m_line, std::move(script));
}

void ScanCycleTest::defaultRequestAndGoodReplyFillTheColumn()
{
    QElapsedTimer clock;
    clock.start();
    const auto result = scan();

    QCOMPARE(m_meter->received(), QByteArray::fromHex("01030FAB000C373B"));
    QCOMPARE(result.outcomes[0], SlotOutcome::Verified);
    QCOMPARE(m_console.stored[0], (QList<QList<std::uint16_t>> {deviceCodedWords(1, 12)}));
    // The wait ends when the 29 bytes are in, not at the limit.
    QVERIFY(clock.elapsed() < defaultReplyLimit.count());
    QCOMPARE(m_console.marks[0], (QList<SlotMark> {SlotMark::Asking, SlotMark::Done}));
    for (int slot = 1; slot < slotCount; ++slot) {
        QCOMPARE(result.outcomes[slot], SlotOutcome::Skipped);
        QCOMPARE(m_console.marks[slot], QList<SlotMark> {SlotMark::Done});
    }
}

void ScanCycleTest::slotOneDeviceTwoAtZero()
{
    m_console.ticked = {false, true, false, false, false};
    m_console.start = "0";
    m_console.count = "2";
    useScript([](const QByteArray &) { return QByteArray::fromHex("0203041388FFFF4C2D"); });
    scan();
    QCOMPARE(m_meter->received(), QByteArray::fromHex("020300000002C438"));
    QCOMPARE(m_console.stored[1], (QList<QList<std::uint16_t>> {{5000, 65535}}));
}

void ScanCycleTest::inputsAreReadAtEverySlot()
{
    m_console.ticked = {true, true, false, false, false};
    // The operator edits the count while slot 0 waits: slot 1 asks for the new count.
    m_console.onStore = [this](int) { m_console.count = "3"; };
    scan();
    QCOMPARE(m_meter->requests(),
        (QList<QByteArray> {
            QByteArray::fromHex("01030FAB000C373B"), QByteArray::fromHex("02030FAB0003770C")}));
    QCOMPARE(m_console.stored[1], (QList<QList<std::uint16_t>> {deviceCodedWords(2, 3)}));
}

void ScanCycleTest::repliesThatAreNotVerifiedWriteNothing_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<SlotOutcome>("outcome");
    QTest::addColumn<bool>("behindGateway");
    const auto good = normalReply(1, deviceCodedWords(1, 12));
    auto badCrc = good;
    badCrc[10] = char(badCrc[10] ^ 0x04);
    QTest::newRow("no reply") << QByteArray() << SlotOutcome::TimedOut << false;
    QTest::newRow("cut short") << good.left(6) << SlotOutcome::TimedOut << false;
    QTest::newRow("one bit flipped") << badCrc << SlotOutcome::BadCrc << false;
    QTest::newRow("another device")
        << normalReply(2, deviceCodedWords(2, 12)) << SlotOutcome::ForeignDevice << false;
    QTest::newRow("exception") << exceptionReply(1, 2) << SlotOutcome::Exception << false;
    // A gateway's word for a meter behind it that did not answer in time; from a device on the
    // line itself it is an exception like any other.
    QTest::newRow("gateway: target failed to respond")
        << exceptionReply(1, 0x0B) << SlotOutcome::TimedOut << true;
    QTest::newRow("0B on the line") << exceptionReply(1, 0x0B) << SlotOutcome::Exception << false;
    QTest::newRow("wrong byte count")
        << normalReply(1, deviceCodedWords(1, 13)) << SlotOutcome::BadCrc << false;
}

void ScanCycleTest::repliesThatAreNotVerifiedWriteNothing()
{
    QFETCH(QByteArray, reply);
    QFETCH(SlotOutcome, outcome);
    QFETCH(bool, behindGateway);
    useScript([reply](const QByteArray &) { return reply; });
    const auto result = scan(behindGateway);
    QCOMPARE(result.outcomes[0], outcome);
    QVERIFY(m_console.stored[0].isEmpty());
    QCOMPARE(
        m_console.marks[0], (QList<SlotMark> {SlotMark::Asking, SlotMark::Failed, SlotMark::Done}));
}

void ScanCycleTest::exceptionReplyEndsTheWaitAtOnce()
{
    useScript([](const QByteArray &) { return exceptionReply(1, 2); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(scan().outcomes[0], SlotOutcome::Exception);
    QVERIFY(clock.elapsed() < defaultReplyLimit.count());
}

void ScanCycleTest::staleBytesAreDiscardedBeforeSending()
{
    // A reply that came too late for an earlier request sits in the port before this scan.
    m_line->send(normalReply(1, QList<quint16>(12, 0xDEAD)));
    QTRY_VERIFY(m_port->inBufferCount().value_or(0) > 0);
    QCOMPARE(scan().outcomes[0], SlotOutcome::Verified);
    QCOMPARE(m_console.stored[0], (QList<QList<std::uint16_t>> {deviceCodedWords(1, 12)}));
}

void ScanCycleTest::echoOfTheRequestIsSkipped()
{
    m_console.ticked = {true, true, false, false, false};
    // The adapter hears the request itself, and the meter's reply follows a little later.
    useScript([this](const QByteArray &request) {
        const auto reply = deviceCodedReply(request);
        QTimer::singleShot(5, m_scheduled.get(), [this, reply] { m_line->send(reply); });
        return request;
    });
    const auto result = scan();
    QCOMPARE(result.outcomes[0], SlotOutcome::Verified);
    QCOMPARE(result.outcomes[1], SlotOutcome::Verified);
    QCOMPARE(m_console.stored[1], (QList<QList<std::uint16_t>> {deviceCodedWords(2, 12)}));
}

void ScanCycleTest::lateReplyNeverLandsInAnotherColumn()
{
    m_console.ticked = {true, true, false, false, false};
    // Device 1 answers after its master has given up, during device 2's wait; device 2 takes
    // its time too.
    useScript([this](const QByteArray &request) {
        const auto reply = deviceCodedReply(request);
        const int delay = request[0] == 1 ? 600 : 200;
        QTimer::singleShot(delay, m_scheduled.get(), [this, reply] { m_line->send(reply); });
        return QByteArray();
    });
    const auto result = scan();
    QCOMPARE(result.outcomes[0], SlotOutcome::TimedOut);
    QCOMPARE(result.outcomes[1], SlotOutcome::ForeignDevice);
    QVERIFY(m_console.stored[0].isEmpty());
    QVERIFY(m_console.stored[1].isEmpty());
}

void ScanCycleTest::inputsThatDescribeNoRequestSendNothing_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    // One of each input that once re-sent or wrapped a request; the reading of every text is
    // covered by the frame tests.
    QTest::newRow("device x") << QString("x") << QString("4011") << QString("12");
    QTest::newRow("count 300") << QString("1") << QString("4011") << QString("300");
    QTest::newRow("address 65536") << QString("1") << QString("65536") << QString("12");
}

void ScanCycleTest::inputsThatDescribeNoRequestSendNothing()
{
    QFETCH(QString, device);
    QFETCH(QString, start);
    QFETCH(QString, count);
    // Slot 0 succeeds first, so nothing of its request may be sent again for slot 1.
    m_console.ticked = {true, true, false, false, false};
    m_console.devices[1] = device;
    m_console.start = "4011";
    m_console.onStore = [&](int) {
        m_console.start = start;
        m_console.count = count;
    };
    const auto result = scan();
    QCOMPARE(result.outcomes[1], SlotOutcome::NotDescribed);
    QVERIFY(m_meter->readUpToLineMarker());
    QCOMPARE(m_meter->received(), QByteArray::fromHex("01030FAB000C373B"));
    QVERIFY(m_console.stored[1].isEmpty());
    QCOMPARE(
        m_console.marks[1], (QList<SlotMark> {SlotMark::Asking, SlotMark::Failed, SlotMark::Done}));
}

void ScanCycleTest::closedPortSendsNothingAndDoesNotWait()
{
    m_console.ticked.fill(true);
    // Inputs that describe no request change nothing: the port is judged first.
    m_console.devices[2] = "x";
    QVERIFY(m_port->setPortOpen(false));
    QElapsedTimer clock;
    clock.start();
    const auto result = scan();
    QVERIFY(clock.elapsed() < defaultReplyLimit.count());
    QVERIFY(m_meter->readUpToLineMarker());
    QVERIFY(m_meter->received().isEmpty());
    for (int slot = 0; slot < slotCount; ++slot) {
        QCOMPARE(result.outcomes[slot], SlotOutcome::PortNotOpen);
        QCOMPARE(m_console.marks[slot], (QList<SlotMark> {SlotMark::Asking, SlotMark::Done}));
    }
}

void ScanCycleTest::lineHangingUpDuringTheWaitFailsTheSlot()
{
    m_console.ticked = {true, true, false, false, false};
    useScript([this](const QByteArray &) {
        QTimer::singleShot(50, m_scheduled.get(), [this] { m_line->hangUp(); });
        return QByteArray();
    });
    QSignalSpy lost(m_port.get(), &SerialComm::lost);
    const auto result = scan();
    QCOMPARE(result.outcomes[0], SlotOutcome::PortLost);
    QCOMPARE(result.outcomes[1], SlotOutcome::PortNotOpen);
    QCOMPARE(lost.count(), 1);
    QVERIFY(!m_port->portOpen());
    QCOMPARE(
        m_console.marks[0], (QList<SlotMark> {SlotMark::Asking, SlotMark::Failed, SlotMark::Done}));
}

void ScanCycleTest::cancelStopsTheCycleAtOnce()
{
    m_console.ticked.fill(true);
    useScript([this](const QByteArray &) {
        QTimer::singleShot(20, m_cancel.get(), &Cancellation::cancel);
        return QByteArray();
    });
    QElapsedTimer clock;
    clock.start();
    const auto result = scan();
    QVERIFY(result.cancelled);
    QVERIFY(clock.elapsed() < defaultReplyLimit.count());
    QCOMPARE(m_meter->requests().size(), 1);
    QCOMPARE(m_console.marks[0], QList<SlotMark> {SlotMark::Asking});
    QVERIFY(m_console.marks[1].isEmpty());
}

void ScanCycleTest::keepsAFrameGapBetweenReplyAndNextRequest_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<qint64>("gapMicros");
    // 3.5 characters of 11 bits at 9600 baud; the fixed 1.75 ms from 19200 baud up.
    QTest::newRow("9600 8E1") << QStringLiteral("9600,e,8,1") << qint64(4011);
    QTest::newRow("38400 8N1") << QStringLiteral("38400,n,8,1") << qint64(1750);
}

void ScanCycleTest::keepsAFrameGapBetweenReplyAndNextRequest()
{
    QFETCH(QString, settings);
    QFETCH(qint64, gapMicros);
    QVERIFY(m_port->setPortOpen(false));
    QVERIFY(m_port->setSettings(settings));
    QVERIFY(m_port->setPortOpen(true));
    QCOMPARE(qint64(frameGap(m_port->settings()).count()), gapMicros);
    m_console.ticked.fill(true);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> repliedAt, requestedAt;
    useScript([&](const QByteArray &request) {
        requestedAt.append(clock.nsecsElapsed());
        const auto reply = deviceCodedReply(request);
        repliedAt.append(clock.nsecsElapsed());
        return reply;
    });
    scan();
    QCOMPARE(requestedAt.size(), slotCount);
    for (int slot = 1; slot < slotCount; ++slot)
        QVERIFY2(requestedAt[slot] - repliedAt[slot - 1] >= gapMicros * 1000,
            qPrintable(QString::number(requestedAt[slot] - repliedAt[slot - 1])));
}

void ScanCycleTest::nestedScanKeepsEveryWordInItsOwnColumn()
{
    m_console.ticked.fill(true);
    // Every device takes 100 ms; while the outer scan waits for device 1, a second scan starts
    // and runs to its end inside that wait.
    useScript([this](const QByteArray &request) {
        const auto reply = deviceCodedReply(request);
        QTimer::singleShot(100, m_scheduled.get(), [this, reply] { m_line->send(reply); });
        return QByteArray();
    });
    bool nestedDone = false;
    QTimer::singleShot(20, m_scheduled.get(), [&] {
        runScanCycle(m_console, *m_port, m_framing, *m_cancel);
        nestedDone = true;
    });
    scan();
    QVERIFY(nestedDone);
    int stores = 0;
    for (int slot = 0; slot < slotCount; ++slot) {
        for (const auto &words : m_console.stored[slot]) {
            QCOMPARE(words, deviceCodedWords(quint8(slot + 1), 12));
            ++stores;
        }
    }
    // The two runs take each other's replies, so most slots fail; the one that gets a reply to
    // the very request it is waiting on stores it.
    QVERIFY(stores >= 1);
}

void ScanCycleTest::silenceWaitKeepsTheWindowLiveWhileTheLineTalks_data()
{
    QTest::addColumn<int>("chatterMs");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<bool>("fallsSilent");
    QTest::newRow("quiet after one byte") << 0 << 1000 << true;
    QTest::newRow("talks, then falls silent") << 150 << 1000 << true;
    QTest::newRow("never falls silent") << 100'000 << 150 << false;
}

void ScanCycleTest::silenceWaitKeepsTheWindowLiveWhileTheLineTalks()
{
    QFETCH(int, chatterMs);
    QFETCH(int, boundMs);
    QFETCH(bool, fallsSilent);
    const std::chrono::milliseconds gap(30);
    // The window's own timer fires only while the wait runs its events.
    int windowEvents = 0;
    auto *window = new QTimer(m_scheduled.get());
    connect(window, &QTimer::timeout, m_scheduled.get(), [&] { ++windowEvents; });
    window->start(10);

    m_line->send("x");
    QTRY_COMPARE(m_port->inBufferCount(), std::optional<int>(1));
    QElapsedTimer clock;
    clock.start();
    std::atomic<bool> stop = false;
    std::atomic<qint64> lastByteAt = 0;
    std::thread chatter([&] {
        while (!stop && clock.elapsed() < chatterMs) {
            m_line->send("y");
            lastByteAt = clock.elapsed();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    windowEvents = 0;
    const auto end
        = waitForSilence(*m_port, *m_port, gap, std::chrono::milliseconds(boundMs), *m_cancel);
    const auto waited = clock.elapsed();
    stop = true;
    chatter.join();
    QCOMPARE(end, fallsSilent ? WaitEnd::Complete : WaitEnd::TimedOut);
    QVERIFY(waited >= (fallsSilent ? lastByteAt + gap.count() - 1 : boundMs));
    // Only the first gap is waited without the window.
    if (waited > 3 * gap.count())
        QVERIFY2(windowEvents >= 3, qPrintable(QString::number(windowEvents)));
}

void ScanCycleTest::traceShowsEveryFrameWithItsVerdict()
{
    m_console.ticked = {true, true, false, false, false};
    m_console.count = "1";
    useScript([](const QByteArray &request) {
        return request[0] == 1 ? normalReply(1, {0x1234}) : exceptionReply(2, 2);
    });
    LogCapture log;
    {
        const ScopedLogRules frames("meterlog.frames.debug=true");
        scan();
    }
    scan();
    QCOMPARE(log.lines("meterlog.frames"),
        (QStringList {"M1 sent 01 03 0f ab 00 01 f6 fe", "M1 got 01 03 02 12 34 b5 33 (verified)",
            "M2 sent 02 03 0f ab 00 01 f6 cd", "M2 got 02 83 02 30 f1 (exception)"}));
}

QTEST_GUILESS_MAIN(ScanCycleTest)
#include "tst_scancycle.moc"

// Per-meter health as the operator sees it: counters in the tooltips, and stale readings in grey,
// driven through the window's scan against meters scripted on a pseudo-terminal.

#include <QCheckBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "meters/metertypefile.h"
#include "table/registergrid.h"
#include "tests/support/logcapture.h"
#include "tests/support/windowonline.h"

using namespace meterlog;

namespace {

using Counter = std::uint64_t MeterCounters::*;

QByteArray goodReply(const QByteArray &request)
{
    return normalReply(
        quint8(request[0]), QList<quint16>(quint8(request[5]), 42), quint8(request[1]));
}

bool looksGrey(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText) == QColor(Qt::gray);
}

} // namespace

class MeterHealthTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void eachOutcomeHasItsCounter_data();
    void eachOutcomeHasItsCounter();
    void tooltipSaysItInPlainWords();
    void silentMeterLooksStaleUntilItAnswers();
    void deadMeterIsAskedLessOftenUntilItAnswers();
    void meterKeepsItsOwnLimits();
    void frequencyLooksStaleByTheMeterItComesFrom();
    void metersBeyondTheSlotsAreAskedAfterThem();

private:
    // The window started anew from `start`, the poll timer stopped.
    void restartWith(const StartValues &start);
    // How many requests reached the meter at `address` so far.
    int requestsTo(int address) const;

    std::unique_ptr<WindowOnLine> m_window;
    Form1 *m_form = nullptr;
    std::function<QByteArray(const QByteArray &)> m_answer;
};

void MeterHealthTest::init()
{
    m_answer = goodReply;
    m_window = std::make_unique<WindowOnLine>();
    m_window->startUpSlotOneByHand([this](const QByteArray &request) { return m_answer(request); });
    m_form = &m_window->form();
}

void MeterHealthTest::cleanup()
{
    m_window.reset();
}

void MeterHealthTest::eachOutcomeHasItsCounter_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("deviceText");
    QTest::addColumn<Counter>("counter");
    QTest::addColumn<bool>("sent");
    auto badCrc = goodReply(QByteArray::fromHex("01030FAB000C"));
    badCrc[5] = char(badCrc[5] ^ 0x01);
    QTest::newRow("verified") << QByteArray("good") << "1" << &MeterCounters::verifiedReplies
                              << true;
    QTest::newRow("timeout") << QByteArray() << "1" << &MeterCounters::timeouts << true;
    QTest::newRow("short") << badCrc.left(10) << "1" << &MeterCounters::timeouts << true;
    QTest::newRow("bad CRC") << badCrc << "1" << &MeterCounters::crcErrors << true;
    QTest::newRow("foreign") << normalReply(9, QList<quint16>(12, 1)) << "1"
                             << &MeterCounters::foreignReplies << true;
    QTest::newRow("exception") << exceptionReply(1, 2) << "1" << &MeterCounters::exceptionReplies
                               << true;
    QTest::newRow("not sent") << QByteArray() << "x" << &MeterCounters::notSent << false;
}

void MeterHealthTest::eachOutcomeHasItsCounter()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, deviceText);
    QFETCH(Counter, counter);
    QFETCH(bool, sent);
    m_answer = [reply](const QByteArray &request) {
        return reply == "good" ? goodReply(request) : reply;
    };
    m_form->txtaID[0]->setText(deviceText);
    m_form->cmdTest_Click();
    m_form->cmdTest_Click();

    const auto &counters = m_form->health().counters(0);
    QCOMPARE(counters.*counter, std::uint64_t(2));
    QCOMPARE(counters.requestsSent, std::uint64_t(sent ? 2 : 0));
    // Every other count stays at zero.
    std::uint64_t all = 0;
    for (const Counter each : {&MeterCounters::verifiedReplies, &MeterCounters::timeouts,
             &MeterCounters::crcErrors, &MeterCounters::foreignReplies,
             &MeterCounters::exceptionReplies, &MeterCounters::malformedReplies,
             &MeterCounters::portFailures, &MeterCounters::notSent})
        all += counters.*each;
    QCOMPARE(all, std::uint64_t(2));
    QCOMPARE(m_form->health().counters(1).requestsSent, std::uint64_t(0));
}

void MeterHealthTest::tooltipSaysItInPlainWords()
{
    m_form->cmdTest_Click();
    m_answer = [](const QByteArray &) { return exceptionReply(1, 2); };
    m_form->cmdTest_Click();
    const auto tip = m_form->cheAID[0]->currentToolTip();
    QVERIFY2(tip.startsWith("Meter at address 1: 2 requests, 1 reply, 0 timeouts, 0 CRC errors, "
                            "1 exception reply (last 02 illegal data address); last reply "),
        qPrintable(tip));
    QCOMPARE(m_form->tabel->columnToolTip(2), tip);
    // Hovering over the column header, or over the tick box, shows it.
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    auto *header = m_form->tabel->horizontalHeader();
    const QPoint overSlotZero(header->sectionViewportPosition(1) + 5, 5);
    const auto hoverOver = [](QWidget *widget, QPoint at) {
        QToolTip::hideText();
        QHelpEvent hover(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &hover);
    };
    hoverOver(header->viewport(), overSlotZero);
    QTRY_COMPARE(QToolTip::text(), tip);
    hoverOver(m_form->cheAID[0], QPoint(5, 5));
    QTRY_COMPARE(QToolTip::text(), tip);

    // Large counts are grouped as people write them.
    MeterHealth health;
    const SlotReport verified {SlotOutcome::Verified, std::uint8_t(3), 0};
    for (int i = 0; i < 1204; ++i)
        health.record(2, verified, QDateTime(QDate(2026, 12, 8), QTime(14, 3, 7)));
    QCOMPARE(health.describe(2, "3"),
        QStringLiteral("Meter at address 3: 1 204 requests, 1 204 replies, 0 timeouts, "
                       "0 CRC errors; last reply 14:03:07"));
}

void MeterHealthTest::silentMeterLooksStaleUntilItAnswers()
{
    LogCapture log;
    m_form->cheAID[4]->setCheckState(Qt::Checked);
    m_form->cmdTest_Click();
    m_form->Command1_Click();
    const auto fresh = m_window->snapshot();
    QVERIFY(!m_form->tabel->isColumnStale(2));
    QVERIFY(!looksGrey(m_form->lbkw[0]));
    QVERIFY(!looksGrey(m_form->lbfreq));

    m_answer = [](const QByteArray &) { return QByteArray(); };
    m_form->cmdTest_Click();
    m_form->cmdTest_Click();
    m_form->Command1_Click();
    // Said once, however many scans it lasts.
    const QString silentLine
        = QStringLiteral("M%1 (address %1) does not answer: no complete reply within %2 ms")
              .arg(QStringLiteral("%1"), QString::number(scriptedReplyLimit.count()));
    QCOMPARE(log.lines("meterlog.scan"), (QStringList {silentLine.arg(1), silentLine.arg(5)}));
    QVERIFY(m_form->tabel->isColumnStale(2));
    QVERIFY(m_form->tabel->isColumnStale(6));
    QVERIFY(!m_form->tabel->isColumnStale(3)); // not ticked, not scanned
    QVERIFY(looksGrey(m_form->lbkw[0]));
    QVERIFY(looksGrey(m_form->lbfreq));
    // Appearance only: texts and the file stay as they were.
    QCOMPARE(m_form->tabel->cellText(1, 2), std::optional<QString>(" 42"));
    QCOMPARE(m_window->snapshot(), fresh);

    m_answer = goodReply;
    m_form->cmdTest_Click();
    m_form->cmdTest_Click();
    const auto lines = log.lines("meterlog.scan");
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[2].startsWith("M1 (address 1) answers again (after "), qPrintable(lines[2]));
    QVERIFY(!m_form->tabel->isColumnStale(2));
    QVERIFY(!looksGrey(m_form->lbkw[0]));
    QVERIFY(!looksGrey(m_form->lbfreq));
}

void MeterHealthTest::restartWith(const StartValues &start)
{
    m_window = std::make_unique<WindowOnLine>();
    m_window->startUp([this](const QByteArray &request) { return m_answer(request); }, start);
    m_form = &m_window->form();
    m_form->Timer3->stop();
}

int MeterHealthTest::requestsTo(int address) const
{
    const auto &requests = m_window->meter().requests();
    return int(std::count_if(requests.begin(), requests.end(),
        [&](const QByteArray &request) { return quint8(request[0]) == address; }));
}

void MeterHealthTest::deadMeterIsAskedLessOftenUntilItAnswers()
{
    LogCapture log;
    m_answer = [](const QByteArray &request) {
        return request[0] == 1 ? QByteArray() : goodReply(request);
    };
    m_form->cheAID[1]->setCheckState(Qt::Checked);
    // Asked in scans 1, 2 and 3, then every 2nd, 4th, 8th scan: 5, 9 and 17.
    for (int scan = 1; scan <= 20; ++scan)
        m_form->cmdTest_Click();
    QCOMPARE(requestsTo(1), 6);
    QCOMPARE(requestsTo(2), 20);
    QVERIFY(m_form->tabel->isColumnStale(2));
    const auto restLine = QStringLiteral("M1 (address 1) has not answered 3 scans in a row: asked "
                                         "every 2nd scan from now on, less often while it stays "
                                         "silent, at least once a minute");
    QCOMPARE(log.lines("meterlog.scan").count(restLine), 1);

    // Its next turn comes at scan 33; from its first reply on it is asked in every scan.
    m_answer = goodReply;
    for (int scan = 21; scan <= 35; ++scan)
        m_form->cmdTest_Click();
    QCOMPARE(requestsTo(1), 9);
    QVERIFY(!m_form->tabel->isColumnStale(2));
    QCOMPARE(log.lines("meterlog.scan").count(restLine), 1);
}

void MeterHealthTest::meterKeepsItsOwnLimits()
{
    auto start = WindowOnLine::scriptedStart();
    start.addresses = QStringList {"1", "2"};
    start.replyLimits[0] = std::chrono::milliseconds(40);
    start.every[1] = std::chrono::hours(1);
    m_answer = [](const QByteArray &request) {
        return request[0] == 1 ? QByteArray() : goodReply(request);
    };
    LogCapture log;
    restartWith(start);
    for (int scan = 0; scan < 3; ++scan)
        m_form->cmdTest_Click();
    QCOMPARE(requestsTo(2), 1);
    // Not asked, it keeps its values unstaled.
    QVERIFY(!m_form->tabel->isColumnStale(3));
    QVERIFY(log.lines("meterlog.scan")
                .contains("M1 (address 1) does not answer: no complete reply within 40 ms"));
}

void MeterHealthTest::frequencyLooksStaleByTheMeterItComesFrom()
{
    // Meter 5 has no frequency: the line's comes from meter 1.
    auto start = WindowOnLine::scriptedStart();
    start.addresses = QStringList {"1", "", "", "", "5"};
    start.meterTypes[4] = std::get<MeterType>(findMeterType("pac2200"));
    m_answer = [](const QByteArray &request) {
        return request[0] == 5 ? QByteArray() : goodReply(request);
    };
    restartWith(start);
    for (int slot : {1, 2, 3})
        m_form->cheAID[slot]->setCheckState(Qt::Unchecked);
    m_form->cmdTest_Click();
    m_form->cmdTest_Click();
    QVERIFY(m_form->tabel->isColumnStale(6));
    QVERIFY(!looksGrey(m_form->lbfreq));

    m_answer = [](const QByteArray &) { return QByteArray(); };
    m_form->cmdTest_Click();
    QVERIFY(looksGrey(m_form->lbfreq));
}

void MeterHealthTest::metersBeyondTheSlotsAreAskedAfterThem()
{
    // Slot 1, then three meters without a slot: a default one, an sdm120 and a dead one.
    auto start = WindowOnLine::scriptedStart();
    start.addresses = QStringList {"1"};
    start.beyondSlots = {LineMeter {60, std::nullopt, "6", "6", {}, {}},
        LineMeter {70, std::get<MeterType>(findMeterType("sdm120")), "7", "7", {}, {}},
        LineMeter {80, std::nullopt, "8", "8", {}, {}}};
    m_answer = [](const QByteArray &request) {
        return request[0] == 80 ? QByteArray() : goodReply(request);
    };
    restartWith(start);
    m_form->cmdTest_Click();
    QStringList asked;
    for (const auto &request : m_window->meter().requests())
        asked << QString::fromLatin1(request.left(6).toHex());
    // The window's range for the default meter; the sdm120's blocks in its own requests.
    QCOMPARE(asked,
        (QStringList {"01030fab000c", "3c030fab000c", "460400000020", "460400460006",
            "460401560002", "50030fab000c"}));

    const auto reading = m_form->currentReading();
    QCOMPARE(reading.meters.size(), std::size_t(8));
    QVERIFY(reading.meters[5].confirmed() && reading.meters[6].confirmed());
    QVERIFY(reading.meters[7].stale());
    // A default meter beyond the slots gives its power and frequency as fields: 42 and 42 / 100.
    QVERIFY(reading.fields[5].has_value());
    QCOMPARE(reading.fields[5]->values[0].value, std::optional<double>((42 << 16) + 42));
    QVERIFY(qFuzzyCompare(reading.fields[5]->values[1].value.value_or(0), 0.42));
    QCOMPARE(reading.fields[6]->values.size(),
        std::get<MeterType>(findMeterType("sdm120")).fields.size());

    // The dead one rests like a dead slot.
    for (int scan = 2; scan <= 9; ++scan)
        m_form->cmdTest_Click();
    QCOMPARE(requestsTo(80), 5); // scans 1, 2, 3, 5 and 9
    QCOMPARE(requestsTo(60), 9);
}

QTEST_MAIN(MeterHealthTest)
#include "tst_meterhealth.moc"

// What a line, an operator or a disk can do to meterlog, case by case, through the window's own
// routines against meters scripted on a pseudo-terminal. After every case: no cell, label or
// snapshot line holds a value the meter did not send, and the scan ended within its bounds.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "table/registergrid.h"
#include "table/snapshotfile.h"
#include "tests/support/logcapture.h"
#include "tests/support/windowonline.h"

using namespace meterlog;

namespace {

const QByteArray meterOneReply = normalReply(1, deviceCodedWords(1, 12));
// The longest a scan of one slot may take: send, reply limit and the line's silence, with room.
constexpr int oneSlotBoundMs = 1000;

} // namespace

class FaultMatrixTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineFaults_data();
    void lineFaults();
    void lateReplyDuringTheNextSlotsWait();
    void disconnectClickedDuringAWait();
    void cablePulledMidReplyThenPluggedBack();
    void scanAndTickDuringAManualScansWait();
    void textBoxesHoldingAnything_data();
    void textBoxesHoldingAnything();
    void portBoxHoldingAnything();
    void snapshotPathTakenByAFolder();

private:
    void startUp(ScriptedMeter::Script script);
    // Column i + 2 holds either meter i + 1's own words or nothing.
    void verifyEveryCellIsTrue();

    std::unique_ptr<WindowOnLine> m_window;
    Form1 *m_form = nullptr;
};

void FaultMatrixTest::init()
{
    m_window = std::make_unique<WindowOnLine>();
}

void FaultMatrixTest::cleanup()
{
    m_window.reset();
}

void FaultMatrixTest::startUp(ScriptedMeter::Script script)
{
    m_window->startUpSlotOneByHand(std::move(script));
    m_form = &m_window->form();
}

void FaultMatrixTest::verifyEveryCellIsTrue()
{
    for (int slot = 0; slot < slotCount; ++slot) {
        for (int row = 1; row < RegisterGrid::gridRows; ++row) {
            const auto cell = m_form->tabel->cellText(row, slot + 2).value_or("<outside>");
            QVERIFY2(cell.isEmpty() || cell == deviceCodedCell(slot + 1, row),
                qPrintable(QStringLiteral("slot %1 row %2: %3").arg(slot).arg(row).arg(cell)));
        }
    }
}

void FaultMatrixTest::lineFaults_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("good") << meterOneReply << true;
    QTest::newRow("no reply") << QByteArray() << false;
    for (int length = 1; length < meterOneReply.size(); ++length)
        QTest::addRow("cut at %d", length) << meterOneReply.left(length) << false;
    for (int position = 0; position < meterOneReply.size(); ++position) {
        auto flipped = meterOneReply;
        flipped[position] = char(flipped[position] ^ (1 << (position % 8)));
        QTest::addRow("bit flipped in byte %d", position + 1) << flipped << false;
    }
    QTest::newRow("another device") << normalReply(2, deviceCodedWords(2, 12)) << false;
    QTest::newRow("exception") << exceptionReply(1, 2) << false;
    QTest::newRow("noise before") << QByteArray::fromHex("5AA501") + meterOneReply << false;
    QTest::newRow("noise after") << meterOneReply + QByteArray::fromHex("A55A") << true;
    QTest::newRow("echoing adapter")
        << QByteArray::fromHex("01030FAB000C373B") + meterOneReply << true;
}

void FaultMatrixTest::lineFaults()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    startUp([reply](const QByteArray &) { return reply; });

    QElapsedTimer clock;
    clock.start();
    m_form->cmdTest_Click();
    QVERIFY(clock.elapsed() < oneSlotBoundMs);
    m_form->Command1_Click();

    verifyEveryCellIsTrue();
    QCOMPARE(m_form->tabel->cellText(1, 2).value_or("").isEmpty(), !accepted);
    const QString kilowatts = accepted ? QString::number(1001 * 65536 + 1002) : "0";
    QCOMPARE(m_form->lbkw[0]->text(), kilowatts);
    QCOMPARE(m_form->lbfreq->text(), QString());
    QCOMPARE(m_window->snapshot(), QByteArray("," + kilowatts.toLatin1() + ",0,0,0,0\r\n"));
    QCOMPARE(m_form->cheAID[0]->backColour(), QColor(0, 64, 0));
}

void FaultMatrixTest::lateReplyDuringTheNextSlotsWait()
{
    startUp([this](const QByteArray &request) {
        // Meter 1 answers after its limit, while meter 2, slow itself, is being waited for.
        const auto reply = deviceCodedReply(request);
        const auto after
            = request[0] == 1 ? scriptedReplyLimit * 4 / 3 : scriptedReplyLimit * 2 / 3;
        QTimer::singleShot(after, m_window.get(), [this, reply] { m_window->line().send(reply); });
        return QByteArray();
    });
    m_form->cheAID[1]->setCheckState(Qt::Checked);
    m_form->cmdTest_Click();
    m_form->cmdTest_Click();
    verifyEveryCellIsTrue();
}

void FaultMatrixTest::disconnectClickedDuringAWait()
{
    startUp([this](const QByteArray &) {
        QTimer::singleShot(30, m_form->cmd_coneck, &QPushButton::click);
        return QByteArray();
    });
    for (auto *box : m_form->cheAID)
        box->setCheckState(Qt::Checked);
    QElapsedTimer clock;
    clock.start();
    m_form->cmdTest_Click();
    QVERIFY(clock.elapsed() < oneSlotBoundMs);
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QVERIFY(!m_form->port().portOpen());
    QCOMPARE(m_window->meter().requests().size(), 1);
    QCOMPARE(m_form->health().counters(0).portFailures, std::uint64_t(1));
    verifyEveryCellIsTrue();
}

void FaultMatrixTest::cablePulledMidReplyThenPluggedBack()
{
    startUp([this](const QByteArray &) {
        m_window->line().send(meterOneReply.left(10));
        QTimer::singleShot(20, m_window.get(), [this] { m_window->line().hangUp(); });
        return QByteArray();
    });
    m_form->cmdTest_Click();
    QTRY_COMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QCOMPARE(m_form->tabel->cellText(1, 2), std::optional<QString>(QString()));

    PseudoTerminal pluggedBack;
    QVERIFY(pluggedBack.linkAs(m_window->path("com9")));
    ScriptedMeter meter(pluggedBack, deviceCodedReply);
    m_form->cmd_coneck->click();
    m_form->cmdTest_Click();
    QCOMPARE(m_form->tabel->cellText(1, 2), std::optional<QString>(" 1000"));
}

void FaultMatrixTest::scanAndTickDuringAManualScansWait()
{
    int repliesOnTheirWay = 0;
    startUp([this, &repliesOnTheirWay](const QByteArray &request) {
        const auto reply = deviceCodedReply(request);
        ++repliesOnTheirWay;
        QTimer::singleShot(60, m_window.get(), [this, reply, &repliesOnTheirWay] {
            m_window->line().send(reply);
            --repliesOnTheirWay;
        });
        return QByteArray();
    });
    for (auto *box : m_form->cheAID)
        box->setCheckState(Qt::Checked);
    // A click on "Scan" and poll ticks in mode "Auto" land inside the manual scan's waits; the
    // ticks go on after it.
    m_form->Timer3->start();
    QTimer::singleShot(30, m_form->cmdTest, &QPushButton::click);
    m_form->cmdTest_Click();
    QSignalSpy ticks(m_form, &Form1::summarized);
    QTRY_VERIFY(ticks.size() >= 2);
    m_form->Timer3->stop();
    // Every reply still on its way, a late one among them maybe, has gone out before the cells
    // are judged.
    QTRY_COMPARE(repliesOnTheirWay, 0);
    verifyEveryCellIsTrue();
    QVERIFY(m_window->meter().requests().size() > slotCount);
}

void FaultMatrixTest::textBoxesHoldingAnything_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("text");
    const QStringList texts {"", "   ", "99999999999999999999999", "1e3", "1e400", "-5", "-0.4",
        "abc", "\u0661\u0662", "12,5", "\u00e9\u00e8", "0x10", "NaN", "inf"};
    const char *boxes[] = {"device address", "start address", "count"};
    for (int box = 0; box < 3; ++box) {
        for (const auto &text : texts)
            QTest::addRow("%s '%s'", boxes[box], qPrintable(text)) << box << text;
    }
}

void FaultMatrixTest::textBoxesHoldingAnything()
{
    QFETCH(int, box);
    QFETCH(QString, text);
    startUp(deviceCodedReply);
    QLineEdit *edits[] = {m_form->txtaID[0], m_form->txt_addr, m_form->txt_jumlahData};
    edits[box]->setText(text);
    m_form->cmdTest_Click();
    m_form->Command1_Click();
    QVERIFY(m_window->meter().readUpToLineMarker());

    // Whatever went out is one well-formed request with its own checksum.
    for (const auto &request : m_window->meter().requests())
        QCOMPARE(request, withCrc(request.left(6)));
    QCOMPARE(m_window->meter().received().size(), 8 * m_window->meter().requests().size());
    verifyEveryCellIsTrue();
}

void FaultMatrixTest::portBoxHoldingAnything()
{
    startUp(deviceCodedReply);
    for (const QString text :
        {"", "  ", "-1", "0", "99999", "1e3", "abc", "/", "/nonexistent", "\u00e9"}) {
        m_form->cmd_coneck_Click();
        QVERIFY(!m_form->port().portOpen());
        m_form->ComA->setEditText(text);
        m_form->cmd_coneck_Click();
        // Text that names no port leaves the last good choice, com9; a path is taken as it is.
        QCOMPARE(m_form->port().portOpen(), !text.startsWith('/'));
        QCOMPARE(m_form->cmd_coneck->text(),
            m_form->port().portOpen() ? QStringLiteral("DisConnect") : QStringLiteral("Connect"));
        if (!m_form->port().portOpen()) {
            m_form->ComA->setEditText("9");
            m_form->cmd_coneck_Click();
        }
    }
}

void FaultMatrixTest::snapshotPathTakenByAFolder()
{
    LogCapture log;
    startUp(deviceCodedReply);
    QVERIFY(QDir(m_window->folder()).mkdir("datamirab.txt"));
    m_form->cmdTest_Click();
    for (int summary = 0; summary < 20; ++summary)
        m_form->Command1_Click();
    QCOMPARE(m_form->lbkw[0]->text(), QString::number(1001 * 65536 + 1002));
    QVERIFY(QFileInfo(snapshotPath(m_window->folder())).isDir());
    const auto path = snapshotPath(m_window->folder());
    QCOMPARE(log.lines("meterlog.file"),
        QStringList {"cannot write the snapshot file " + path + ": Is a directory"});

    // The folder goes: the file is written again, and the log says so once.
    QVERIFY(QDir(path).removeRecursively());
    m_form->Command1_Click();
    m_form->Command1_Click();
    QCOMPARE(m_window->snapshot(), QByteArray(",65602538,0,0,0,0\r\n"));
    const auto lines = log.lines("meterlog.file");
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].startsWith("snapshot file " + path + " written again (after "),
        qPrintable(lines[1]));
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_faultmatrix.moc"

// Polling through the window's own routines, with meters played on a pseudo-terminal linked as
// com9: the scan button, the summary with its file, the mode and the poll timer.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "form1.h"
#include "pseudoterminal.h"
#include "registergrid.h"
#include "scriptedmeter.h"
#include "snapshotfile.h"

using namespace meterlog;

namespace {

QColor backColour(const QCheckBox *box)
{
    return box->palette().color(QPalette::Window);
}

const QColor lightGreen(128, 255, 128);
const QColor red(255, 0, 0);
const QColor darkGreen(0, 64, 0);

} // namespace

class PollingTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void scanFillsEveryColumnWithItsOwnMetersWords();
    void failedSlotShowsRedWhileTheScanRuns();
    void countBeyondTheGridWritesTheRowsThereAre();
    void summaryWritesLabelsBoxAndFile();
    void summaryOfAnEmptyGrid();
    void manualModeSendsNothingButKeepsTheFileFresh();
    void timerIsOffWhileATickScans();
    void modeChangedDuringAScanCountsFromTheNextTick();
    void closingDuringAWaitStopsTheScanAtOnce();

private:
    void startUp(ScriptedMeter::Script script);
    QByteArray snapshot() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PseudoTerminal> m_line;
    std::unique_ptr<ScriptedMeter> m_meter;
    std::unique_ptr<Form1> m_form;
};

void PollingTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_line = std::make_unique<PseudoTerminal>();
    QVERIFY(m_line->linkAs(m_dir->filePath("com9")));
}

void PollingTest::cleanup()
{
    m_form.reset();
    m_meter.reset();
    m_line.reset();
}

void PollingTest::startUp(ScriptedMeter::Script script)
{
    m_meter = std::make_unique<ScriptedMeter>(*m_line, std::move(script));
    m_form = std::make_unique<Form1>(m_dir->path());
    m_form->Form_Load();
}

QByteArray PollingTest::snapshot() const
{
    QFile file(snapshotPath(m_dir->path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void PollingTest::scanFillsEveryColumnWithItsOwnMetersWords()
{
    startUp(deviceCodedReply);
    m_form->Timer3->stop();
    m_form->cmdTest->click();

    QCOMPARE(m_meter->requests().size(), slotCount);
    QCOMPARE(m_meter->requests()[0], QByteArray::fromHex("01030FAB000C373B"));
    for (int slot = 0; slot < slotCount; ++slot) {
        QCOMPARE(quint8(m_meter->requests()[slot][0]), quint8(slot + 1));
        for (int row = 1; row <= 12; ++row) {
            const auto expected = QStringLiteral(" %1").arg((slot + 1) * 1000 + row - 1);
            QCOMPARE(m_form->tabel->cellText(row, slot + 2), std::optional<QString>(expected));
        }
        QCOMPARE(m_form->tabel->cellText(13, slot + 2), std::optional<QString>(QString()));
        QCOMPARE(backColour(m_form->cheAID[slot]), darkGreen);
    }
    // The address column and the headers stay as start-up wrote them.
    m_form->txt_addr->setText("100");
    m_form->txtaID[0]->setText("7");
    m_form->cmdTest->click();
    QCOMPARE(m_form->tabel->cellText(1, 1), std::optional<QString>("44011"));
    QCOMPARE(m_form->tabel->cellText(0, 2), std::optional<QString>("ID: 1"));
}

void PollingTest::failedSlotShowsRedWhileTheScanRuns()
{
    QList<QColor> slotZeroWhenSlotOneAsked;
    startUp([&](const QByteArray &request) {
        if (request[0] == 2)
            slotZeroWhenSlotOneAsked.append(backColour(m_form->cheAID[0]));
        // Meter 1 answers with a broken checksum; the others are fine.
        auto reply = deviceCodedReply(request);
        if (request[0] == 1)
            reply[reply.size() - 1] = char(reply.back() ^ 0xFF);
        return reply;
    });
    m_form->Timer3->stop();
    m_form->cheAID[2]->setCheckState(Qt::Unchecked);
    m_form->tabel->setCellText(1, 2, "kept");
    m_form->cmdTest_Click();

    QCOMPARE(slotZeroWhenSlotOneAsked, QList<QColor> {red});
    QCOMPARE(m_form->tabel->cellText(1, 2), std::optional<QString>("kept"));
    QCOMPARE(m_form->tabel->cellText(1, 4), std::optional<QString>(QString()));
    QCOMPARE(m_meter->requests().size(), 4);
    for (auto *box : m_form->cheAID)
        QCOMPARE(backColour(box), darkGreen);
}

void PollingTest::countBeyondTheGridWritesTheRowsThereAre()
{
    startUp(deviceCodedReply);
    m_form->Timer3->stop();
    m_form->txt_jumlahData->setText("30");
    m_form->cmdTest_Click();
    QCOMPARE(m_form->tabel->cellText(24, 2), std::optional<QString>(" 1023"));
    QCOMPARE(m_form->tabel->cellText(24, 6), std::optional<QString>(" 5023"));
    QCOMPARE(m_form->tabel->cellText(25, 2), std::nullopt);
}

void PollingTest::summaryWritesLabelsBoxAndFile()
{
    startUp(deviceCodedReply);
    m_form->Timer3->stop();
    m_form->cmdTest_Click();
    m_form->txtPrint->setText("typed by the operator");
    m_form->Command1->click();

    // Frequency: register 9 of meter 5 as the cell holds it; kW: words 2 and 3 of each meter.
    QCOMPARE(m_form->lbfreq->text(), QStringLiteral(" 5008"));
    for (int slot = 0; slot < slotCount; ++slot) {
        const double high = (slot + 1) * 1000 + 1, low = (slot + 1) * 1000 + 2;
        QCOMPARE(m_form->lbkw[slot]->text(), QString::number(qint64(high * 65536 + low)));
    }
    const auto line = QStringLiteral(" 5008,65602538,131139538,196676538,262213538,327750538");
    QCOMPARE(m_form->txtPrint->text(), line);
    QCOMPARE(snapshot(), line.toLatin1() + "\r\n");
}

void PollingTest::summaryOfAnEmptyGrid()
{
    m_line->hangUp();
    m_form = std::make_unique<Form1>(m_dir->path());
    m_form->Form_Load();
    m_form->Timer3->stop();
    m_form->Command1_Click();
    QCOMPARE(m_form->lbfreq->text(), QString());
    QCOMPARE(m_form->lbkw[0]->text(), QStringLiteral("0"));
    QCOMPARE(snapshot(), QByteArray(",0,0,0,0,0\r\n"));
}

void PollingTest::manualModeSendsNothingButKeepsTheFileFresh()
{
    startUp(deviceCodedReply);
    m_form->cmd_auto->click();
    QCOMPARE(m_form->cmd_auto->text(), QStringLiteral("Manual"));
    QTest::qWait(50);
    const int requestsBefore = int(m_meter->requests().size());
    QFile::remove(snapshotPath(m_dir->path()));
    QTRY_COMPARE(snapshot(), QByteArray(m_form->txtPrint->text().toLatin1() + "\r\n"));
    QTest::qWait(300);
    QCOMPARE(int(m_meter->requests().size()), requestsBefore);

    m_form->cmd_auto->click();
    QCOMPARE(m_form->cmd_auto->text(), QStringLiteral("Auto"));
    QTRY_VERIFY(m_meter->requests().size() >= requestsBefore + slotCount);
}

void PollingTest::timerIsOffWhileATickScans()
{
    QList<bool> timerActive;
    startUp([&](const QByteArray &request) {
        timerActive.append(m_form->Timer3->isActive());
        return deviceCodedReply(request);
    });
    QTRY_VERIFY(timerActive.size() >= 2 * slotCount);
    QVERIFY(!timerActive.contains(true));
    // Between ticks it runs again.
    QTRY_VERIFY(m_form->Timer3->isActive());
}

void PollingTest::modeChangedDuringAScanCountsFromTheNextTick()
{
    bool clicked = false;
    startUp([&](const QByteArray &request) {
        if (request[0] == 1 && !clicked) {
            clicked = true;
            QTimer::singleShot(0, m_form->cmd_auto, &QPushButton::click);
        }
        return deviceCodedReply(request);
    });
    QTRY_VERIFY(clicked);
    // The cycle under way asks all five meters; the ticks after it ask none.
    QTRY_COMPARE(m_meter->requests().size(), slotCount);
    QCOMPARE(m_form->cmd_auto->text(), QStringLiteral("Manual"));
    QTest::qWait(300);
    QCOMPARE(m_meter->requests().size(), slotCount);
}

void PollingTest::closingDuringAWaitStopsTheScanAtOnce()
{
    // Silent meters: every slot would wait its full limit.
    startUp([](const QByteArray &) { return QByteArray(); });
    m_form->Timer3->stop();
    m_form->show();
    QTimer::singleShot(50, m_form.get(), &QWidget::close);
    QElapsedTimer clock;
    clock.start();
    m_form->cmdTest_Click();
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(!m_form->port().portOpen());
    QCOMPARE(m_meter->requests().size(), 1);
    // The scan stopped where it was: no end-of-cycle colours on a window going away.
    QCOMPARE(backColour(m_form->cheAID[0]), lightGreen);
    QVERIFY(!m_form->Timer3->isActive());
}

QTEST_MAIN(PollingTest)
#include "tst_polling.moc"

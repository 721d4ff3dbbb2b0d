// Polling through the window's own routines, with meters played on a pseudo-terminal linked as
// com9: the scan button, the summary with its file, the mode and the poll timer.

#include <QCheckBox>
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
#include "tests/support/windowonline.h"

using namespace meterlog;

namespace {

QColor backColour(const SlotTickBox *box)
{
    return box->backColour();
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
    Form1 &form() { return m_window->form(); }
    ScriptedMeter &meter() { return m_window->meter(); }

    std::unique_ptr<WindowOnLine> m_window;
};

void PollingTest::init()
{
    m_window = std::make_unique<WindowOnLine>();
}

void PollingTest::cleanup()
{
    m_window.reset();
}

void PollingTest::startUp(ScriptedMeter::Script script)
{
    m_window->startUp(std::move(script));
}

void PollingTest::scanFillsEveryColumnWithItsOwnMetersWords()
{
    startUp(deviceCodedReply);
    form().Timer3->stop();
    form().cmdTest->click();

    QCOMPARE(meter().requests().size(), slotCount);
    QCOMPARE(meter().requests()[0], QByteArray::fromHex("01030FAB000C373B"));
    for (int slot = 0; slot < slotCount; ++slot) {
        QCOMPARE(quint8(meter().requests()[slot][0]), quint8(slot + 1));
        for (int row = 1; row <= 12; ++row) {
            QCOMPARE(form().tabel->cellText(row, slot + 2),
                std::optional<QString>(deviceCodedCell(slot + 1, row)));
        }
        QCOMPARE(form().tabel->cellText(13, slot + 2), std::optional<QString>(QString()));
        QCOMPARE(backColour(form().cheAID[slot]), darkGreen);
    }
    // The address column and the headers stay as start-up wrote them.
    form().txt_addr->setText("100");
    form().txtaID[0]->setText("7");
    form().cmdTest->click();
    QCOMPARE(form().tabel->cellText(1, 1), std::optional<QString>("44011"));
    QCOMPARE(form().tabel->cellText(0, 2), std::optional<QString>("ID: 1"));
}

void PollingTest::failedSlotShowsRedWhileTheScanRuns()
{
    QList<QColor> slotZeroWhenSlotOneAsked;
    startUp([&](const QByteArray &request) {
        if (request[0] == 2)
            slotZeroWhenSlotOneAsked.append(backColour(form().cheAID[0]));
        // Meter 1 answers with a broken checksum; the others are fine.
        auto reply = deviceCodedReply(request);
        if (request[0] == 1)
            reply[reply.size() - 1] = char(reply.back() ^ 0xFF);
        return reply;
    });
    form().Timer3->stop();
    form().cheAID[2]->setCheckState(Qt::Unchecked);
    form().tabel->setCellText(1, 2, "kept");
    form().cmdTest_Click();

    QCOMPARE(slotZeroWhenSlotOneAsked, QList<QColor> {red});
    QCOMPARE(form().tabel->cellText(1, 2), std::optional<QString>("kept"));
    QCOMPARE(form().tabel->cellText(1, 4), std::optional<QString>(QString()));
    QCOMPARE(meter().requests().size(), 4);
    for (auto *box : form().cheAID)
        QCOMPARE(backColour(box), darkGreen);
}

void PollingTest::countBeyondTheGridWritesTheRowsThereAre()
{
    startUp(deviceCodedReply);
    form().Timer3->stop();
    form().txt_jumlahData->setText("30");
    form().cmdTest_Click();
    QCOMPARE(form().tabel->cellText(24, 2), std::optional<QString>(" 1023"));
    QCOMPARE(form().tabel->cellText(24, 6), std::optional<QString>(" 5023"));
    QCOMPARE(form().tabel->cellText(25, 2), std::nullopt);
}

void PollingTest::summaryWritesLabelsBoxAndFile()
{
    startUp(deviceCodedReply);
    form().Timer3->stop();
    form().cmdTest_Click();
    form().txtPrint->setText("typed by the operator");
    form().Command1->click();

    // Frequency: register 9 of meter 5 as the cell holds it; kW: words 2 and 3 of each meter.
    QCOMPARE(form().lbfreq->text(), QStringLiteral(" 5008"));
    for (int slot = 0; slot < slotCount; ++slot) {
        const double high = (slot + 1) * 1000 + 1, low = (slot + 1) * 1000 + 2;
        QCOMPARE(form().lbkw[slot]->text(), QString::number(qint64(high * 65536 + low)));
    }
    const auto line = QStringLiteral(" 5008,65602538,131139538,196676538,262213538,327750538");
    QCOMPARE(form().txtPrint->text(), line);
    QCOMPARE(m_window->snapshot(), line.toLatin1() + "\r\n");
}

void PollingTest::summaryOfAnEmptyGrid()
{
    startUp([](const QByteArray &) { return QByteArray(); });
    form().Timer3->stop();
    form().Command1_Click();
    QCOMPARE(form().lbfreq->text(), QString());
    QCOMPARE(form().lbkw[0]->text(), QStringLiteral("0"));
    QCOMPARE(m_window->snapshot(), QByteArray(",0,0,0,0,0\r\n"));
}

void PollingTest::manualModeSendsNothingButKeepsTheFileFresh()
{
    startUp(deviceCodedReply);
    form().cmd_auto->click();
    QCOMPARE(form().cmd_auto->text(), QStringLiteral("Manual"));
    QVERIFY(meter().readUpToLineMarker());
    const int requestsBefore = int(meter().requests().size());
    QSignalSpy ticks(&form(), &Form1::summarized);
    QFile::remove(snapshotPath(m_window->folder()));
    QTRY_COMPARE(m_window->snapshot(), QByteArray(form().txtPrint->text().toLatin1() + "\r\n"));
    QTRY_VERIFY(ticks.size() >= 3);
    QVERIFY(meter().readUpToLineMarker());
    QCOMPARE(int(meter().requests().size()), requestsBefore);

    form().cmd_auto->click();
    QCOMPARE(form().cmd_auto->text(), QStringLiteral("Auto"));
    QTRY_VERIFY(meter().requests().size() >= requestsBefore + slotCount);
}

void PollingTest::timerIsOffWhileATickScans()
{
    QList<bool> timerActive;
    startUp([&](const QByteArray &request) {
        timerActive.append(form().Timer3->isActive());
        return deviceCodedReply(request);
    });
    QTRY_VERIFY(timerActive.size() >= 2 * slotCount);
    QVERIFY(!timerActive.contains(true));
    // Between ticks it runs again.
    QTRY_VERIFY(form().Timer3->isActive());
}

void PollingTest::modeChangedDuringAScanCountsFromTheNextTick()
{
    bool clicked = false;
    startUp([&](const QByteArray &request) {
        if (request[0] == 1 && !clicked) {
            clicked = true;
            QTimer::singleShot(0, form().cmd_auto, &QPushButton::click);
        }
        return deviceCodedReply(request);
    });
    QTRY_VERIFY(clicked);
    // The cycle under way asks all five meters; the ticks after it ask none. The test looks
    // between ticks, so the one that asked has ended.
    QTRY_COMPARE(meter().requests().size(), slotCount);
    QCOMPARE(form().cmd_auto->text(), QStringLiteral("Manual"));
    QSignalSpy ticks(&form(), &Form1::summarized);
    QTRY_VERIFY(ticks.size() >= 2);
    QVERIFY(meter().readUpToLineMarker());
    QCOMPARE(meter().requests().size(), slotCount);
}

void PollingTest::closingDuringAWaitStopsTheScanAtOnce()
{
    // Silent meters: every slot would wait its full limit.
    startUp([](const QByteArray &) { return QByteArray(); });
    form().Timer3->stop();
    form().show();
    QTimer::singleShot(50, &form(), &QWidget::close);
    QElapsedTimer clock;
    clock.start();
    form().cmdTest_Click();
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(!form().port().portOpen());
    QCOMPARE(meter().requests().size(), 1);
    // The scan stopped where it was: no end-of-cycle colours on a window going away.
    QCOMPARE(backColour(form().cheAID[0]), lightGreen);
    QVERIFY(!form().Timer3->isActive());
}

QTEST_MAIN(PollingTest)
#include "tst_polling.moc"

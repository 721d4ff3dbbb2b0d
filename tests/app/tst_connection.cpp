// The connect button against pseudo-terminals linked as ports in the program's folder: opening,
// closing, the speed from the baud box, trying again on its own, and what the log says.

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/form1.h"
#include "table/registergrid.h"
#include "tests/support/logcapture.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/scriptedmeter.h"

using namespace meterlog;
using namespace std::chrono_literals;

namespace {

// Retries once the log has said the program's 2 s: the tries that follow need not take as long.
constexpr std::chrono::milliseconds quickRetry {50};

} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensOnTheNumberInThePortBox();
    void missingPortLeavesConnectWithoutAMessage();
    void emptiedPortBoxReopensTheLastNumber();
    void portBoxChangedWhileOpenTakesEffectAtTheNextOpen();
    void disconnectWithThePortAlreadyClosedOnlyFixesTheCaption();
    void typedDevicePathIsOpenedAsItStands();
    void lostPortShowsConnect();
    void baudBoxAppliesAtTheNextConnect();
    void portThatAppearsLaterIsOpenedAndPolled();
    void lineThatComesBackIsPolledAgain();
    void missingPortIsSaidOnceAndDisconnectStopsTrying();
    void portHeldElsewhereIsSaidSoUnderAnyName_data();
    void portHeldElsewhereIsSaidSoUnderAnyName();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PseudoTerminal> m_nine, m_four;
    std::unique_ptr<Form1> m_form;
};

void ConnectionTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_nine = std::make_unique<PseudoTerminal>();
    m_four = std::make_unique<PseudoTerminal>();
    QVERIFY(m_nine->linkAs(m_dir->filePath("com9")));
    QVERIFY(m_four->linkAs(m_dir->filePath("com4")));
    m_form = std::make_unique<Form1>(m_dir->path());
    m_form->Timer3->stop();
    m_form->port().setSettings(u"38400,n,8,1");
}

void ConnectionTest::cleanup()
{
    // The window first: it holds the ports the links lead to.
    m_form.reset();
    m_four.reset();
    m_nine.reset();
    m_dir.reset();
}

void ConnectionTest::opensOnTheNumberInThePortBox()
{
    m_form->ComA->setCurrentText("9");
    m_form->cmd_coneck_Click();
    QVERIFY(m_form->port().portOpen());
    QCOMPARE(m_form->port().deviceName(), m_dir->filePath("com9"));
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("DisConnect"));

    // One call that starts from "Connect" never both opens and closes: here it only reads the
    // open port back.
    m_form->cmd_coneck->setText("Connect");
    m_form->cmd_coneck_Click();
    QVERIFY(m_form->port().portOpen());
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("DisConnect"));

    m_form->cmd_coneck->click();
    QVERIFY(!m_form->port().portOpen());
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
}

void ConnectionTest::missingPortLeavesConnectWithoutAMessage()
{
    m_form->ComA->setCurrentText("7");
    m_form->cmd_coneck_Click();
    QVERIFY(!m_form->port().portOpen());
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void ConnectionTest::emptiedPortBoxReopensTheLastNumber()
{
    m_form->ComA->setCurrentText("4");
    m_form->cmd_coneck_Click();
    m_form->cmd_coneck_Click();
    QVERIFY(!m_form->port().portOpen());

    for (const QString text : {"", "abc", "99999", "0", "tcp://", "rtu+tcp://gw", "tcp://gw:0"}) {
        m_form->ComA->setEditText(text);
        m_form->cmd_coneck_Click();
        QVERIFY2(m_form->port().portOpen(), qPrintable(text));
        QCOMPARE(m_form->port().deviceName(), m_dir->filePath("com4"));
        m_form->cmd_coneck_Click();
    }
}

void ConnectionTest::portBoxChangedWhileOpenTakesEffectAtTheNextOpen()
{
    m_form->ComA->setCurrentText("9");
    m_form->cmd_coneck_Click();
    m_form->ComA->setCurrentText("4");
    QCOMPARE(m_form->port().deviceName(), m_dir->filePath("com9"));
    m_form->cmd_coneck_Click();
    m_form->cmd_coneck_Click();
    QCOMPARE(m_form->port().deviceName(), m_dir->filePath("com4"));
    QVERIFY(m_form->port().portOpen());
}

void ConnectionTest::disconnectWithThePortAlreadyClosedOnlyFixesTheCaption()
{
    m_form->ComA->setCurrentText("9");
    m_form->cmd_coneck->setText("DisConnect");
    m_form->cmd_coneck_Click();
    QVERIFY(!m_form->port().portOpen());
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
}

void ConnectionTest::typedDevicePathIsOpenedAsItStands()
{
    m_form->ComA->setEditText(m_four->devicePath());
    m_form->cmd_coneck_Click();
    QVERIFY(m_form->port().portOpen());
    QCOMPARE(m_form->port().deviceName(), m_four->devicePath());
}

void ConnectionTest::lostPortShowsConnect()
{
    m_form->ComA->setCurrentText("9");
    m_form->cmd_coneck_Click();
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("DisConnect"));
    m_nine->hangUp();
    QTRY_COMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QVERIFY(!m_form->port().portOpen());

    // Plugged back in under the same link, one click connects again.
    PseudoTerminal replugged;
    QVERIFY(replugged.linkAs(m_dir->filePath("com9")));
    m_form->cmd_coneck->click();
    QVERIFY(m_form->port().portOpen());
}

void ConnectionTest::baudBoxAppliesAtTheNextConnect()
{
    m_form->port().setSettings(u"38400,e,8,2");
    m_form->ComA->setCurrentText("9");
    m_form->BoudRateA->setCurrentText("38400");
    m_form->cmd_coneck_Click();
    m_form->BoudRateA->setCurrentText("9600");
    QCOMPARE(m_nine->baudRate(), 38400);

    m_form->cmd_coneck_Click();
    m_form->cmd_coneck_Click();
    QCOMPARE(m_nine->baudRate(), 9600);
    // Parity, data and stop bits stay as the line settings have them.
    QCOMPARE(settingsText(m_form->port().settings()), QStringLiteral("9600,e,8,2"));
    QCOMPARE(m_nine->stopBits(), 2);

    // Text that is no speed leaves the last one.
    m_form->BoudRateA->setEditText("fast");
    m_form->cmd_coneck_Click();
    m_form->cmd_coneck_Click();
    QCOMPARE(m_nine->baudRate(), 9600);
}

void ConnectionTest::portThatAppearsLaterIsOpenedAndPolled()
{
    // Start-up finds no port 3; its link appears after a retry has failed too, as a USB adapter
    // enumerating late.
    LogCapture log;
    StartValues start;
    start.port = "3";
    m_form = std::make_unique<Form1>(m_dir->path(), start);
    m_form->Form_Load();
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QVERIFY(m_form->cmd_coneck->toolTip().contains("No such file or directory"));

    QSignalSpy failedRetries(&m_form->portKeeper(), &PortKeeper::openFailed);
    m_form->portKeeper().setRetryInterval(quickRetry);
    QTRY_VERIFY(!failedRetries.isEmpty());
    PseudoTerminal late;
    ScriptedMeter meter(late, deviceCodedReply);
    QVERIFY(late.linkAs(m_dir->filePath("com3")));
    QTRY_COMPARE(m_form->cmd_coneck->text(), QStringLiteral("DisConnect"));
    QTRY_COMPARE(m_form->tabel->cellText(1, 2), std::optional<QString>(" 1000"));
    const auto lines = log.lines("meterlog.port");
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], "cannot open /dev/ttyS2: No such file or directory; trying again every 2 s");
    QVERIFY2(
        lines[1].startsWith(m_dir->filePath("com3") + " open again (after "), qPrintable(lines[1]));
}

void ConnectionTest::lineThatComesBackIsPolledAgain()
{
    LogCapture log;
    ScriptedMeter meter(*m_nine, deviceCodedReply);
    m_form->Form_Load();
    m_form->Timer3->start();
    QTRY_COMPARE(m_form->tabel->cellText(1, 2), std::optional<QString>(" 1000"));

    // The cable goes for a while, tries to open it again fail, then the line is back under the
    // same link.
    m_nine->hangUp();
    QTRY_COMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QSignalSpy failedRetries(&m_form->portKeeper(), &PortKeeper::openFailed);
    m_form->portKeeper().setRetryInterval(quickRetry);
    QTRY_VERIFY(failedRetries.size() >= 2);
    m_form->tabel->setCellText(1, 2, QString());
    PseudoTerminal back;
    ScriptedMeter answering(back, deviceCodedReply);
    QElapsedTimer sinceBack;
    QVERIFY(back.linkAs(m_dir->filePath("com9")));
    sinceBack.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_form->tabel->cellText(1, 2), std::optional<QString>(" 1000"), 5000);
    qInfo("first verified reply %lld ms after the line came back", sinceBack.elapsed());
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("DisConnect"));

    const auto lines = log.lines("meterlog.port");
    QCOMPARE(lines.size(), 3); // open, lost, open again
    QVERIFY2(lines[1].startsWith(m_dir->filePath("com9") + " lost: "), qPrintable(lines[1]));
    QVERIFY2(lines[1].endsWith("; trying again every 2 s"), qPrintable(lines[1]));
    QVERIFY2(
        lines[2].startsWith(m_dir->filePath("com9") + " open again (after "), qPrintable(lines[2]));
}

void ConnectionTest::missingPortIsSaidOnceAndDisconnectStopsTrying()
{
    LogCapture log;
    constexpr auto retryInterval = 10ms;
    m_form->portKeeper().setRetryInterval(retryInterval);
    QSignalSpy failedTries(&m_form->portKeeper(), &PortKeeper::openFailed);
    m_form->ComA->setCurrentText("7");
    m_form->cmd_coneck_Click();
    // Twenty tries, one line.
    QTRY_VERIFY(failedTries.size() >= 20);
    QCOMPARE(log.lines("meterlog.port"),
        QStringList {"cannot open /dev/ttyS6: No such file or directory; trying again every "
                     "0.01 s"});

    PseudoTerminal seven;
    QVERIFY(seven.linkAs(m_dir->filePath("com7")));
    QTRY_COMPARE(m_form->cmd_coneck->text(), QStringLiteral("DisConnect"));
    QCOMPARE(log.lines("meterlog.port").size(), 2);

    // After "DisConnect" the port stays closed, though it is there to be opened. A retry the
    // click left due would fire before a timer of the same interval started after it.
    m_form->cmd_coneck->click();
    QTimer retryWouldBeDue;
    retryWouldBeDue.setSingleShot(true);
    QSignalSpy due(&retryWouldBeDue, &QTimer::timeout);
    retryWouldBeDue.start(retryInterval);
    QVERIFY(due.wait());
    QVERIFY(!m_form->port().portOpen());
    QCOMPARE(m_form->cmd_coneck->text(), QStringLiteral("Connect"));
    QCOMPARE(log.lines("meterlog.port").size(), 2);
}

void ConnectionTest::portHeldElsewhereIsSaidSoUnderAnyName_data()
{
    QTest::addColumn<bool>("byTarget");
    QTest::newRow("the same link") << false;
    QTest::newRow("the device the link leads to") << true;
}

void ConnectionTest::portHeldElsewhereIsSaidSoUnderAnyName()
{
    QFETCH(bool, byTarget);
    LogCapture log;
    m_form->ComA->setCurrentText("9");
    m_form->cmd_coneck_Click();
    QVERIFY(m_form->port().portOpen());
    Form1 second(m_dir->path());
    second.Timer3->stop();
    second.ComA->setCurrentText(byTarget ? m_nine->devicePath() : QStringLiteral("9"));
    second.cmd_coneck_Click();
    QVERIFY(!second.port().portOpen());
    const auto said = log.lines("meterlog.port").constLast();
    QVERIFY2(
        said.contains("held by another program") && !said.contains("dialout"), qPrintable(said));
    QVERIFY(second.cmd_coneck->toolTip().contains("held by another program"));
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"

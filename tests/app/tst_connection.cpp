// The connect button against pseudo-terminals linked as ports in the program's folder.

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "form1.h"
#include "pseudoterminal.h"

using namespace meterlog;

class ConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void opensOnTheNumberInThePortBox();
    void missingPortLeavesConnectWithoutAMessage();
    void emptiedPortBoxReopensTheLastNumber();
    void portBoxChangedWhileOpenTakesEffectAtTheNextOpen();
    void disconnectWithThePortAlreadyClosedOnlyFixesTheCaption();
    void typedDevicePathIsOpenedAsItStands();
    void lostPortShowsConnect();

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

    for (const QString text : {"", "abc", "99999", "0"}) {
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

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"

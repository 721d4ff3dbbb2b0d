// meterlog against meters it had no hand in: five pymodbus slaves on one line, joined to the
// program's com9 by socat. Only the window's own routines run on meterlog's side.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/form1.h"
#include "table/registergrid.h"
#include "tests/support/outsidetools.h"
#include "tests/support/windowonline.h"

using namespace meterlog;

class IndependentMetersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pollsFiveMetersIntoGridAndFile();

private:
    QTemporaryDir m_dir;
    QProcess m_line;
    QProcess m_meters;
};

void IndependentMetersTest::initTestCase()
{
    for (const auto &missing :
        {missingCommand("socat", "socat"), missingPythonModule("pymodbus", "python3-pymodbus"),
            missingPythonModule("serial_asyncio", "python3-serial-asyncio")})
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
    m_line.start("socat",
        {QStringLiteral("pty,raw,echo=0,link=%1").arg(m_dir.filePath("com9")),
            QStringLiteral("pty,raw,echo=0,link=%1").arg(m_dir.filePath("meters"))});
    QVERIFY2(m_line.waitForStarted(), "socat is needed");
    QTRY_VERIFY(QFile::exists(m_dir.filePath("com9")) && QFile::exists(m_dir.filePath("meters")));

    // Debian's python3, which has python3-pymodbus, whatever else is first on the PATH.
    m_meters.start("/usr/bin/python3", {PYMODBUS_METERS_SCRIPT, m_dir.filePath("meters")});
    QVERIFY2(m_meters.waitForStarted(), "python3 is needed");
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += m_meters.readAllStandardOutput()).contains("ready"), 20000);
}

void IndependentMetersTest::cleanupTestCase()
{
    for (auto *process : {&m_meters, &m_line}) {
        process->terminate();
        process->waitForFinished(3000);
    }
}

void IndependentMetersTest::pollsFiveMetersIntoGridAndFile()
{
    Form1 form(m_dir.path());
    form.Form_Load();
    QCOMPARE(form.port().deviceName(), m_dir.filePath("com9"));
    QVERIFY(form.port().portOpen());

    // The poll timer does the rest: scan, summary, file.
    const QByteArray expected(" 5005,6619238,13172938,19726638,26280338,32834038\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(readSnapshot(m_dir.path()), expected, 15000);

    for (int device = 1; device <= slotCount; ++device) {
        for (int row = 1; row <= 12; ++row) {
            const int word = row == 9 ? 5000 + device : device * 100 + row - 1;
            QCOMPARE(form.tabel->cellText(row, device + 1),
                std::optional<QString>(QStringLiteral(" %1").arg(word)));
        }
    }
}

QTEST_MAIN(IndependentMetersTest)
#include "tst_independentmeters.moc"

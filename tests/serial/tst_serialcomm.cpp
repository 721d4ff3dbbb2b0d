// The serial-port operations over real pseudo-terminals.

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include "serial/linesettings.h"
#include "serial/portlocation.h"
#include "serial/serialcomm.h"
#include "tests/support/pseudoterminal.h"

#include <termios.h>
#include <unistd.h>

using namespace meterlog;

namespace {

// Returns once the event loop has handled whatever was due when it was called: a byte written to
// a pipe now is seen in a round of the loop that looks at every other source too.
bool eventLoopCaughtUp()
{
    int ends[2];
    if (::pipe(ends) != 0)
        return false;
    bool caughtUp = false;
    {
        QSocketNotifier readable(ends[0], QSocketNotifier::Read);
        QSignalSpy seen(&readable, &QSocketNotifier::activated);
        const char byte = 0;
        caughtUp = ::write(ends[1], &byte, 1) == 1 && seen.wait();
    }
    ::close(ends[0]);
    ::close(ends[1]);
    return caughtUp;
}

} // namespace

class SerialCommTest : public QObject
{
    Q_OBJECT

private slots:
    void portNumberLeadsToTheLinkInTheProgramFolder();
    void settingsText_data();
    void settingsText();
    void opensOnTheLinkedPortWithTheSettings();
    void readerIsWokenOnlyForTheBytesItNeeds();
    void openFailsForAMissingPortAndTwice();
    void portNumberIsRefusedWhileOpen();
    void outputGoesOutUnchangedAndItsCountFalls();
    void inputTakesEverythingReceived();
    void operationsFailWhenClosed();
    void lineHangingUpClosesThePort();
};

void SerialCommTest::portNumberLeadsToTheLinkInTheProgramFolder()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    QCOMPARE(deviceForPortNumber(9, dir.path()), QStringLiteral("/dev/ttyS8"));
    QVERIFY(line.linkAs(dir.filePath("com9")));
    QCOMPARE(deviceForPortNumber(9, dir.path()), dir.filePath("com9"));
    QCOMPARE(deviceForPortNumber(1, dir.path()), QStringLiteral("/dev/ttyS0"));
    // A link whose device is gone still names the port the user meant.
    line.hangUp();
    QVERIFY(QFile::link("/nonexistent/pts", dir.filePath("com3")));
    QCOMPARE(deviceForPortNumber(3, dir.path()), dir.filePath("com3"));
}

void SerialCommTest::settingsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ours") << "38400,n,8,1" << true;
    QTest::newRow("even parity, 7 bits, 2 stops") << "9600,E,7,2" << true;
    QTest::newRow("missing field") << "38400,n,8" << false;
    QTest::newRow("bad parity") << "38400,x,8,1" << false;
    QTest::newRow("bad baud") << "fast,n,8,1" << false;
    QTest::newRow("fractional baud") << "38400.5,n,8,1" << false;
    QTest::newRow("bad data bits") << "38400,n,9,1" << false;
    QTest::newRow("bad stop bits") << "38400,n,8,3" << false;
}

void SerialCommTest::settingsText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(parseLineSettings(text).has_value(), valid);
}

void SerialCommTest::opensOnTheLinkedPortWithTheSettings()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    QVERIFY(line.linkAs(dir.filePath("com9")));
    SerialComm port(dir.path());
    QVERIFY(port.setSettings(u"38400,n,8,1"));
    QVERIFY(port.setCommPort(9));
    QVERIFY(port.setPortOpen(true));
    QVERIFY(port.portOpen());

    termios attributes {};
    QCOMPARE(tcgetattr(line.lineFd(), &attributes), 0);
    QCOMPARE(cfgetospeed(&attributes), speed_t(B38400));

    QSignalSpy closed(&port, &SerialComm::closed);
    QVERIFY(port.setPortOpen(false));
    QVERIFY(!port.portOpen());
    QCOMPARE(closed.count(), 1);
}

void SerialCommTest::readerIsWokenOnlyForTheBytesItNeeds()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    SerialComm port(dir.path());
    QVERIFY(port.setDevicePath(line.devicePath()));
    QVERIFY(port.setPortOpen(true));
    // The port's own watch, which Qt keeps to itself, was found: the line can go unwatched while
    // no reply can be there yet.
    QVERIFY(port.arrivals().canHold());

    // The driver reports input readable only once the bytes the reader needs are in.
    const auto threshold = [&] {
        termios attributes {};
        return tcgetattr(line.lineFd(), &attributes) == 0 ? int(attributes.c_cc[VMIN]) : -1;
    };
    port.expectInput(24);
    QCOMPARE(threshold(), 24);
    port.watchEveryArrival();
    QCOMPARE(threshold(), 1);
}

void SerialCommTest::openFailsForAMissingPortAndTwice()
{
    QTemporaryDir dir;
    SerialComm port(dir.path());
    QVERIFY(port.setDevicePath(dir.filePath("no-such-device")));
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(!port.portOpen());

    PseudoTerminal line;
    QVERIFY(port.setDevicePath(line.devicePath()));
    QVERIFY(port.setPortOpen(true));
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(port.portOpen());
}

void SerialCommTest::portNumberIsRefusedWhileOpen()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    SerialComm port(dir.path());
    QVERIFY(!port.setCommPort(0));
    QVERIFY(!port.setCommPort(-3));
    QVERIFY(port.setDevicePath(line.devicePath()));
    QVERIFY(port.setPortOpen(true));
    QVERIFY(!port.setCommPort(4));
    QCOMPARE(port.deviceName(), line.devicePath());
}

void SerialCommTest::outputGoesOutUnchangedAndItsCountFalls()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    SerialComm port(dir.path());
    QVERIFY(port.setDevicePath(line.devicePath()));
    QVERIFY(port.setPortOpen(true));

    const auto bytes = QByteArray::fromHex("0100FF0D0A1100137F80");
    QVERIFY(port.setOutput(bytes));
    // Without running the event loop, the count still falls to 0.
    int pending = -1;
    for (int reads = 0; reads < 50 && pending != 0; ++reads)
        pending = port.outBufferCount().value_or(-1);
    QCOMPARE(pending, 0);
    QCOMPARE(line.receive(std::chrono::milliseconds(50)), bytes);
}

void SerialCommTest::inputTakesEverythingReceived()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    SerialComm port(dir.path());
    QVERIFY(port.setDevicePath(line.devicePath()));
    QVERIFY(port.setPortOpen(true));

    const auto bytes = QByteArray::fromHex("00000D0A11131A7FFF");
    line.send(bytes);
    QTRY_COMPARE(port.inBufferCount(), std::optional<int>(bytes.size()));
    QCOMPARE(port.peekInput(), bytes);
    QVERIFY(port.setInputLen(0));
    QCOMPARE(port.input(), std::optional<QByteArray>(bytes));
    QCOMPARE(port.inBufferCount(), std::optional<int>(0));

    line.send("abc");
    QTRY_COMPARE(port.inBufferCount(), std::optional<int>(3));
    port.discardInput();
    QCOMPARE(port.inBufferCount(), std::optional<int>(0));
}

void SerialCommTest::operationsFailWhenClosed()
{
    QTemporaryDir dir;
    SerialComm port(dir.path());
    QVERIFY(!port.portOpen());
    QVERIFY(!port.setOutput("x"));
    QCOMPARE(port.outBufferCount(), std::nullopt);
    QCOMPARE(port.inBufferCount(), std::nullopt);
    QCOMPARE(port.input(), std::nullopt);
    QVERIFY(!port.setPortOpen(false));
}

void SerialCommTest::lineHangingUpClosesThePort()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    SerialComm port(dir.path());
    QVERIFY(port.setDevicePath(line.devicePath()));
    QVERIFY(port.setPortOpen(true));
    QSignalSpy lost(&port, &SerialComm::lost);

    line.hangUp();
    QTRY_VERIFY(!port.portOpen());
    QCOMPARE(lost.count(), 1);
    // Closed, the port stays quiet: no further failures are reported.
    QVERIFY(eventLoopCaughtUp());
    QCOMPARE(lost.count(), 1);
    QCOMPARE(port.inBufferCount(), std::nullopt);
}

QTEST_GUILESS_MAIN(SerialCommTest)
#include "tst_serialcomm.moc"

// A log line carries its level: on the journal's stream as syslog's "<N>" prefix, without the
// time the journal stamps itself; anywhere else, a program's stderr sent to a file or a pipe
// included, with its time as before.

#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <sys/stat.h>

#include "common/journalstream.h"
#include "common/logcategories.h"

using namespace meterlog;

namespace {

// "device:inode" of a descriptor, as systemd puts it in JOURNAL_STREAM.
QByteArray streamName(int fd, qulonglong inodeOffset = 0)
{
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0)
        return {};
    return QByteArray::number(qulonglong(status.st_dev)) + ':'
        + QByteArray::number(qulonglong(status.st_ino) + inodeOffset);
}

const QString plainTime = QStringLiteral(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");

} // namespace

class LogFormatTest : public QObject
{
    Q_OBJECT

public:
    // The variable would override every format set here.
    LogFormatTest() { qunsetenv("QT_MESSAGE_PATTERN"); }

private slots:
    void initTestCase();
    void cleanup();
    void recognisesTheJournalStream_data();
    void recognisesTheJournalStream();
    void linesCarryTheirLevel_data();
    void linesCarryTheirLevel();

private:
    QTemporaryFile m_otherFile;
};

void LogFormatTest::initTestCase()
{
    QVERIFY(m_otherFile.open());
}

void LogFormatTest::cleanup()
{
    qunsetenv("JOURNAL_STREAM");
}

void LogFormatTest::recognisesTheJournalStream_data()
{
    const QByteArray own = streamName(m_otherFile.handle());
    const QByteArray device = own.first(own.indexOf(':'));
    QTest::addColumn<QByteArray>("journalStream");
    QTest::addColumn<bool>("recognised");
    QTest::newRow("its own device and inode") << own << true;
    QTest::newRow("another inode on its device") << streamName(m_otherFile.handle(), 1) << false;
    QTest::newRow("its inode on another device")
        << QByteArray::number(device.toULongLong() + 1) + own.sliced(own.indexOf(':')) << false;
    QTest::newRow("no variable") << QByteArray() << false;
    QTest::newRow("no inode") << device + ':' << false;
    QTest::newRow("no colon") << device << false;
    QTest::newRow("text after the inode") << own + "x" << false;
}

void LogFormatTest::recognisesTheJournalStream()
{
    QFETCH(QByteArray, journalStream);
    QFETCH(bool, recognised);
    QCOMPARE(isJournalStream(m_otherFile.handle(), journalStream), recognised);
}

void LogFormatTest::linesCarryTheirLevel_data()
{
    QTest::addColumn<QtMsgType>("type");
    QTest::addColumn<QByteArray>("journalStream");
    QTest::addColumn<QString>("line");
    const QByteArray onStderr = streamName(2);
    const auto exactly = [](const QString &text) { return QRegularExpression::escape(text); };
    QTest::newRow("debug to the journal")
        << QtDebugMsg << onStderr << exactly("<7>debug meterlog.scan: said");
    QTest::newRow("info to the journal")
        << QtInfoMsg << onStderr << exactly("<6>info meterlog.scan: said");
    QTest::newRow("warning to the journal")
        << QtWarningMsg << onStderr << exactly("<4>warning meterlog.scan: said");
    QTest::newRow("critical to the journal")
        << QtCriticalMsg << onStderr << exactly("<3>critical meterlog.scan: said");
    QTest::newRow("fatal to the journal")
        << QtFatalMsg << onStderr << exactly("<2>fatal meterlog.scan: said");
    QTest::newRow("warning elsewhere")
        << QtWarningMsg << QByteArray() << plainTime + exactly("warning meterlog.scan: said");
    // A program started by a service, its stderr in a file, inherits JOURNAL_STREAM.
    QTest::newRow("warning to a file, the journal named")
        << QtWarningMsg << streamName(m_otherFile.handle())
        << plainTime + exactly("warning meterlog.scan: said");
}

void LogFormatTest::linesCarryTheirLevel()
{
    QFETCH(QtMsgType, type);
    QFETCH(QByteArray, journalStream);
    QFETCH(QString, line);
    if (!journalStream.isEmpty())
        qputenv("JOURNAL_STREAM", journalStream);
    useLogFormat();
    const QMessageLogContext context(nullptr, 0, nullptr, "meterlog.scan");
    const QString formatted = qFormatLogMessage(type, context, QStringLiteral("said"));
    QVERIFY2(
        QRegularExpression(QRegularExpression::anchoredPattern(line)).match(formatted).hasMatch(),
        qPrintable(formatted));
}

QTEST_GUILESS_MAIN(LogFormatTest)
#include "tst_logformat.moc"

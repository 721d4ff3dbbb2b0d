// What leaves the machine, from a running meterlog against meter-sim: the history files, and the
// topics of a real broker (Debian's mosquitto, started here on a free port) read back by
// mosquitto_sub, against the simulated meters' documented values; the broker going away and
// coming back, a logger killed, and a wrong password.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "documentedvalues.h"
#include "metersimprocess.h"
#include "mosquittobroker.h"
#include "outsidetools.h"
#include "windowonline.h"

namespace {

const QString prefix = QStringLiteral("site/line1");

QString topic(const QString &below)
{
    return prefix + u'/' + below;
}

// The broker's URL for a logger, with `credentials` ("user:password@") when given.
QString urlOf(const MosquittoBroker &broker, const QString &credentials = {})
{
    return "mqtt://" + credentials
        + QStringLiteral("127.0.0.1:%1/%2").arg(broker.port()).arg(prefix);
}

QJsonObject jsonOf(const QString &payload)
{
    return QJsonDocument::fromJson(payload.toUtf8()).object();
}

// A headless meterlog on the simulator's line, with the options given.
class Logger
{
public:
    Logger(const MeterSimProcess &sim, const QStringList &options)
    {
        m_process.start(METERLOG_PATH,
            QStringList {"--headless", "--port", sim.linkPath(), "--folder", m_folder.path()}
                + options);
        m_process.waitForStarted();
    }
    ~Logger()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    QString folder() const { return m_folder.path(); }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    bool waitForExit() { return m_process.waitForFinished(5000); }
    // Its log so far, the lines of meterlog.publish's warnings.
    QStringList publishWarnings()
    {
        m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_log.split(u'\n').filter(" warning meterlog.publish: ");
    }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    QString m_log;
};

} // namespace

class PublishingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void historyHoldsWhatTheMetersConfirmed();
    void everyTopicCarriesWhatTheMetersHold();
    void brokerGoesAwayAndComesBack();
    void killedLoggerLeavesItsWill();
    void wrongPasswordIsLoggedAndPollingGoesOn();
};

void PublishingTest::initTestCase()
{
    for (const auto &missing : {missingCommand("mosquitto", "mosquitto"),
             missingCommand("mosquitto_sub", "mosquitto-clients"),
             missingCommand("mosquitto_passwd", "mosquitto")})
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
}

void PublishingTest::historyHoldsWhatTheMetersConfirmed()
{
    // Meter 3 never answers: its field stays empty, row after row.
    MeterSimProcess sim(simOptions("--static --fault 3:silent"));
    QVERIFY(sim.start());
    QTemporaryDir history;
    Logger logger(sim, {"--history", history.path(), "--history-every", "1"});
    const auto rows = [&] {
        const auto files = QDir(history.path()).entryList({"meterlog-*.csv"});
        QFile file(QDir(history.path()).filePath(files.value(0)));
        return file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
    };
    QTRY_VERIFY_WITH_TIMEOUT(rows().size() >= 5, 10000);
    const auto lines = rows();
    QCOMPARE(lines[0], QStringLiteral("time,frequency,kw1,kw2,kw3,kw4,kw5"));
    QStringList expected {QString::number(documented::block[4][documented::frequencyIndex])};
    for (int meter = 1; meter <= 5; ++meter) {
        const auto &words = documented::block[meter - 1];
        expected << (meter == 3 ? QString() : QString::number(qint64(words[1]) * 65536 + words[2]));
    }
    // A tick lasts about 0.65 s here, so every second has a reading of its own: the rows stand
    // for one second after another, none repeated, none skipped.
    QDateTime previous;
    for (const auto &row : lines.mid(1)) {
        const auto fields = row.split(u',');
        const auto at = QDateTime::fromString(fields[0], Qt::ISODate);
        QVERIFY2(at.isValid(), qPrintable(row));
        if (previous.isValid())
            QCOMPARE(previous.secsTo(at), 1);
        previous = at;
        QCOMPARE(fields.mid(1), expected);
    }
}

void PublishingTest::everyTopicCarriesWhatTheMetersHold()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    MqttSubscriber subscriber(broker.port(), prefix + "/#");
    Logger logger(sim, {"--mqtt", urlOf(broker)});

    // Registers come with every reply, the rest once the tick's summary is done.
    for (int meter = 1; meter <= 5; ++meter) {
        for (const char *below : {"registers", "state"}) {
            QTRY_VERIFY_WITH_TIMEOUT(
                !subscriber.latest(topic(QStringLiteral("meter/%1/%2").arg(meter).arg(below)))
                     .isEmpty(),
                10000);
        }
    }
    QCOMPARE(subscriber.latest(topic("status")), QStringLiteral("online"));
    QCOMPARE(subscriber.latest(topic("snapshot")).toLatin1() + "\r\n", documented::snapshotFile());
    QCOMPARE(subscriber.latest(topic("frequency")),
        QStringLiteral(" %1").arg(documented::block[4][documented::frequencyIndex]));
    for (int meter = 1; meter <= 5; ++meter) {
        const auto &words = documented::block[meter - 1];
        const QString below = QStringLiteral("meter/%1/").arg(meter);
        QCOMPARE(subscriber.latest(topic(below + "kw")),
            QString::number(qint64(words[1]) * 65536 + words[2]));

        const auto state = jsonOf(subscriber.latest(topic(below + "state")));
        QCOMPARE(state["address"].toInt(), meter);
        QCOMPARE(state["state"].toString(), QStringLiteral("ok"));
        QVERIFY(state["replies"].toInt() > 0);
        QCOMPARE(state["requests"].toInt(), state["replies"].toInt());
        QCOMPARE(state["timeouts"].toInt() + state["crcErrors"].toInt()
                + state["foreignReplies"].toInt() + state["exceptions"].toInt(),
            0);
        QVERIFY(QDateTime::fromString(state["lastReply"].toString(), Qt::ISODate).isValid());

        const auto registers = jsonOf(subscriber.latest(topic(below + "registers")));
        QCOMPARE(registers["address"].toInt(), meter);
        QCOMPARE(registers["start"].toInt(), 4011);
        QList<int> received;
        for (const auto word : registers["words"].toArray())
            received << word.toInt();
        QCOMPARE(received, words);
    }

    // A clean exit says goodbye.
    logger.signal(SIGTERM);
    QVERIFY(logger.waitForExit());
    QTRY_COMPARE(subscriber.latest(topic("status")), QStringLiteral("offline"));
}

void PublishingTest::brokerGoesAwayAndComesBack()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    Logger logger(sim, {"--mqtt", urlOf(broker)});
    {
        MqttSubscriber subscriber(broker.port(), prefix + "/#");
        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.latest(topic("snapshot")).isEmpty(), 10000);
    }

    // Without a broker the snapshot file goes on being replaced as before.
    broker.stop();
    const QString snapshot = QDir(logger.folder()).filePath("datamirab.txt");
    for (int round = 0; round < 3; ++round) {
        QFile::remove(snapshot);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(snapshot), 1000);
    }
    QCOMPARE(readSnapshot(logger.folder()), documented::snapshotFile());

    // Back on the same port: online again, and the latest values with it.
    QVERIFY(broker.start());
    MqttSubscriber subscriber(broker.port(), prefix + "/#");
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.latest(topic("status")), QStringLiteral("online"), 10000);
    QTRY_COMPARE(
        subscriber.latest(topic("snapshot")).toLatin1() + "\r\n", documented::snapshotFile());
    // One line when it went, one when it came back, whatever the tries between.
    const auto warnings = logger.publishWarnings();
    QCOMPARE(warnings.size(), 2);
    QVERIFY2(warnings[1].contains("connected (after "), qPrintable(warnings.join('\n')));
}

void PublishingTest::killedLoggerLeavesItsWill()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    MqttSubscriber subscriber(broker.port(), prefix + "/status");
    Logger logger(sim, {"--mqtt", urlOf(broker)});
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.latest(topic("status")), QStringLiteral("online"), 10000);
    logger.signal(SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.latest(topic("status")), QStringLiteral("offline"), 10000);
}

void PublishingTest::wrongPasswordIsLoggedAndPollingGoesOn()
{
    MosquittoBroker broker(QList<std::pair<QString, QString>> {{"logger", "right"}});
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    Logger logger(sim, {"--mqtt", urlOf(broker, "logger:wrong@")});
    QTRY_COMPARE_WITH_TIMEOUT(readSnapshot(logger.folder()), documented::snapshotFile(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!logger.publishWarnings().isEmpty(), 5000);
    // Tried again and again, said once.
    QTest::qWait(3000);
    const auto warnings = logger.publishWarnings();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings[0].contains("refused the connection"), qPrintable(warnings[0]));
    QVERIFY2(!warnings[0].contains("wrong"), "the password is never logged");
}

QTEST_GUILESS_MAIN(PublishingTest)
#include "tst_publishing.moc"

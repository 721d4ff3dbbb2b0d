// What leaves the machine, from a running meterlog against meter-sim: the history files, and the
// topics of a real broker (Debian's mosquitto, started here on a free port) read back by
// mosquitto_sub, against the simulated meters' documented values; the broker going away and
// coming back, a logger killed, a wrong password, TLS failures each named, and brokers that
// misbehave: the logger still leaves at once. How its attempts are paced is watched on a
// publisher in this process, with pauses short enough not to sit through.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>

#include "meters/meters.h"
#include "meters/metertypefile.h"
#include "publish/mqttpublisher.h"
#include "tests/support/documentedvalues.h"
#include "tests/support/logcapture.h"
#include "tests/support/metersimprocess.h"
#include "tests/support/misbehavingbroker.h"
#include "tests/support/mosquittobroker.h"
#include "tests/support/outsidetools.h"
#include "tests/support/pymodbusserver.h"
#include "tests/support/testcertificates.h"
#include "tests/support/windowonline.h"

using namespace std::chrono_literals;

namespace {

const QString prefix = QStringLiteral("site/line1");

// The program's pacing, 1 s doubling to 60 s, scaled down: the pauses double twice, then stay.
const meterlog::BrokerPacing quickPacing {150ms, 600ms};

QString topic(const QString &below)
{
    return prefix + u'/' + below;
}

// The URL of a broker on a loopback port for a logger, with `credentials` ("user:password@") when
// given.
QString urlOf(int port, const QString &credentials = {}, const QString &scheme = "mqtt")
{
    return scheme + "://" + credentials + QStringLiteral("127.0.0.1:%1/%2").arg(port).arg(prefix);
}

QString urlOf(const MosquittoBroker &broker, const QString &credentials = {})
{
    return urlOf(broker.port(), credentials);
}

// A publisher in this process, for a test that watches its broker link's attempts.
std::unique_ptr<meterlog::MqttPublisher> quickPublisher(const QString &url)
{
    const auto target = meterlog::parseMqttUrl(url);
    return target ? std::make_unique<meterlog::MqttPublisher>(*target, std::nullopt, quickPacing)
                  : nullptr;
}

QJsonObject jsonOf(const QString &payload)
{
    return QJsonDocument::fromJson(payload.toUtf8()).object();
}

// A headless meterlog on the simulator's line, with the options given.
class Logger
{
public:
    Logger(const QString &port, const QStringList &options,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(METERLOG_PATH,
            QStringList {"--headless", "--port", port, "--folder", m_folder.path()} + options);
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
    bool exitedCleanly() const
    {
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    // Its log so far, the lines that hold `text`.
    QStringList logLines(const QString &text)
    {
        m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_log.split(u'\n').filter(text);
    }
    QStringList publishWarnings() { return logLines(" warning meterlog.publish: "); }

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
    void typedMetersPublishAndKeepEveryField_data();
    void typedMetersPublishAndKeepEveryField();
    void brokerGoesAwayAndComesBack();
    void killedLoggerLeavesItsWill();
    void wrongPasswordIsLoggedAndPollingGoesOn();
    void refusalIsSaidOnceWhateverTheTries();
    void exitIsPromptWhateverTheBroker_data();
    void exitIsPromptWhateverTheBroker();
    void attemptsArePacedByGrowingPauses();
    void tlsBrokerWithTheRightAuthorityGetsTheReadings();
    void tlsFailuresAreNamed_data();
    void tlsFailuresAreNamed();

private:
    // Home Assistant's discovery configs of the fields of the meter with `id`, against its
    // documented schema for MQTT sensors; its device's name starts with `deviceName`.
    void checkDiscoveryConfigs(const QString &id, const QString &deviceName,
        MqttSubscriber &configs, MqttSubscriber &readings);

    std::unique_ptr<TestCertificates> m_certificates;
};

void PublishingTest::initTestCase()
{
    for (const auto &missing : {missingCommand("mosquitto", "mosquitto"),
             missingCommand("mosquitto_sub", "mosquitto-clients"),
             missingCommand("mosquitto_passwd", "mosquitto"), missingCommand("openssl", "openssl")})
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
    m_certificates = std::make_unique<TestCertificates>();
    QVERIFY(m_certificates->made());
}

void PublishingTest::historyHoldsWhatTheMetersConfirmed()
{
    // Meter 3 never answers: its field stays empty, row after row.
    MeterSimProcess sim(simOptions("--static --fault 3:silent"));
    QVERIFY(sim.start());
    QTemporaryDir history;
    Logger logger(sim.linkPath(), {"--history", history.path(), "--history-every", "1"});
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
    Logger logger(sim.linkPath(), {"--mqtt", urlOf(broker)});

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
        QString::number(documented::block[4][documented::frequencyIndex]));
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

void PublishingTest::typedMetersPublishAndKeepEveryField_data()
{
    // Meters of the built-in types described in a line file, the first five in the window's
    // slots; the server holds each as its maker lays it out, and one without a register map
    // there fails to start. Meters in the file that nothing serves never answer.
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<TypedMeterServer::Link>("link");
    QTest::addColumn<int>("dead");
    QStringList types;
    for (const auto &type : meterlog::builtInMeterTypes()) {
        if (!type.followsWindow)
            types << type.name;
    }
    QTest::newRow("every type behind a gateway") << types << TypedMeterServer::Link::Tcp << 0;
    QStringList bus;
    for (int meter = 0; meter < 30; ++meter)
        bus << QStringList {"sdm630", "sdm120", "em24"}[meter % 3];
    QTest::newRow("30 meters and 2 dead ones on one serial line")
        << bus << TypedMeterServer::Link::Serial << 2;
}

void PublishingTest::typedMetersPublishAndKeepEveryField()
{
    QFETCH(QStringList, types);
    QFETCH(TypedMeterServer::Link, link);
    QFETCH(int, dead);
    MosquittoBroker broker;
    QVERIFY(broker.start());
    TypedMeterServer server(PYMODBUS_TYPED_METERS_SCRIPT, types, link);
    QVERIFY(server.start());
    const auto &expected = server.expected();

    // Within the field's resolution: half its scale for a scaled integer, a float's precision.
    // Every field of every type is one the server laid out.
    QList<meterlog::MeterType> lineTypes;
    for (int meter = 1; meter <= types.size(); ++meter) {
        lineTypes << std::get<meterlog::MeterType>(meterlog::findMeterType(types[meter - 1]));
        const auto placed = expected[QString::number(meter)].toObject();
        for (const auto &field : lineTypes.last().fields)
            QVERIFY2(placed.contains(field.name), qPrintable(types[meter - 1] + ": " + field.name));
    }
    const auto near = [&](int meter, const QString &name, const QString &text, double value) {
        const auto *field = meterlog::fieldNamed(lineTypes[meter - 1], name);
        bool isNumber = false;
        const double number = text.toDouble(&isNumber);
        return isNumber && field
            && std::abs(number - value) <= std::max(field->scale / 2, std::abs(value) * 1e-6);
    };

    MqttSubscriber subscriber(broker.port(), prefix + "/#");
    MqttSubscriber configs(broker.port(), "homeassistant/#");
    QTemporaryDir history;
    // Every other meter has an id and a name of its own; the others go by their place.
    QStringList ids;
    QFile line(history.filePath("line.toml"));
    QVERIFY(line.open(QIODevice::WriteOnly));
    for (int meter = 1; meter <= types.size(); ++meter) {
        line.write(QStringLiteral("[[meter]]\naddress = %1\ntype = \"%2\"\n")
                       .arg(meter)
                       .arg(types[meter - 1])
                       .toUtf8());
        ids << (meter % 2
                ? QStringLiteral("%1_%2").arg(types[meter - 1]).arg(meter).replace(u'-', u'_')
                : QString::number(meter));
        if (meter % 2)
            line.write(QStringLiteral("id = \"%1\"\nname = \"The %2\"\n")
                           .arg(ids.last(), types[meter - 1])
                           .toUtf8());
    }
    // Dead meters after the live ones, each asked within a short limit.
    for (int gone = 1; gone <= dead; ++gone) {
        line.write(QStringLiteral("[[meter]]\naddress = %1\ntype = \"sdm120\"\nid = \"gone_%2\"\n"
                                  "reply_timeout = 150\n")
                       .arg(types.size() + gone)
                       .arg(gone)
                       .toUtf8());
    }
    line.close();
    Logger logger(server.url(),
        {"--config", line.fileName(), "--mqtt", urlOf(broker), "--mqtt-discovery", "--history",
            history.path(), "--history-every", "1", "--trace"});
    for (int meter = 1; meter <= types.size(); ++meter) {
        const QString below = QStringLiteral("meter/%1/").arg(ids[meter - 1]);
        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.latest(topic(below + "values")).isEmpty(), 10000);
        const auto values = jsonOf(subscriber.latest(topic(below + "values")));
        QVERIFY(QDateTime::fromString(values["time"].toString(), Qt::ISODate).isValid());
        const auto meterValues = expected[QString::number(meter)].toObject();
        for (auto field = meterValues.begin(); field != meterValues.end(); ++field) {
            if (field.key() == u"type")
                continue;
            const QString payload = subscriber.latest(topic(below + field.key()));
            const QString what = below + field.key() + " = '" + payload + "'";
            if (field->isNull()) {
                // Not available: an empty payload (which mosquitto_sub shows as "(null)"), and
                // null among the values.
                QVERIFY2(payload == u"(null)" && values[field.key()].isNull(), qPrintable(what));
                continue;
            }
            QVERIFY2(near(meter, field.key(), payload, field->toDouble())
                    && near(meter, field.key(),
                        QString::number(values[field.key()].toDouble(), 'g', 12),
                        field->toDouble()),
                qPrintable(what));
        }
        checkDiscoveryConfigs(ids[meter - 1],
            meter % 2 ? "The " + types[meter - 1] : QStringLiteral("Meter %1 on ").arg(meter),
            configs, subscriber);
        if (QTest::currentTestFailed())
            return;
    }

    // The history's latest row: a column a field, empty where the meter gave no value.
    const auto rows = [&] {
        QFile file(QDir(history.path())
                       .filePath(QDir(history.path()).entryList({"meterlog-*.csv"}).value(0)));
        return file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
    };
    QTRY_VERIFY_WITH_TIMEOUT(rows().size() >= 3, 10000);
    const auto lines = rows();
    const QStringList columns = lines.first().split(u',');
    const QStringList cells = lines.last().split(u',');
    QCOMPARE(cells.size(), columns.size());
    for (int meter = 1; meter <= types.size(); ++meter) {
        const auto meterValues = expected[QString::number(meter)].toObject();
        for (auto field = meterValues.begin(); field != meterValues.end(); ++field) {
            if (field.key() == u"type")
                continue;
            const QString column = meter % 2
                ? QStringLiteral("%1.%2").arg(ids[meter - 1], field.key())
                : QStringLiteral("m%1_%2").arg(meter).arg(field.key());
            const QString cell = cells.value(columns.indexOf(column), "<no column>");
            QVERIFY2(field->isNull() ? cell.isEmpty()
                                     : near(meter, field.key(), cell, field->toDouble()),
                qPrintable(column + " = '" + cell + "'"));
        }
    }

    // The dead meters: stale, said once each, and asked less often the longer they are silent:
    // in scans 1, 2, 3, 5, 9, 17 ... The first meter is asked twice a scan.
    const auto askedIn = [](int scans) {
        int asked = 0;
        for (int scan : {1, 2, 3, 5, 9, 17, 33, 65})
            asked += scan <= scans;
        return asked;
    };
    for (int gone = 1; gone <= dead; ++gone) {
        const int address = int(types.size()) + gone;
        QTRY_COMPARE_WITH_TIMEOUT(jsonOf(subscriber.latest(topic(
                                      QStringLiteral("meter/gone_%1/state").arg(gone))))["state"]
                                      .toString(),
            QStringLiteral("stale"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(logger.logLines(" M1 sent ").size() >= 16, 60000);
        const QStringList log = logger.logLines(" sent ");
        const int scans = int(log.filter(" M1 sent ").size() + 1) / 2;
        const auto asked = log.filter(QStringLiteral(" M%1 sent ").arg(address)).size();
        QVERIFY2(askedIn(scans - 1) <= asked && asked <= askedIn(scans),
            qPrintable(QStringLiteral("gone_%1 asked %2 times in %3 scans")
                           .arg(gone)
                           .arg(asked)
                           .arg(scans)));
        QCOMPARE(
            logger
                .logLines(
                    QStringLiteral("gone_%1 (address %2) does not answer").arg(gone).arg(address))
                .size(),
            1);
    }
}

void PublishingTest::checkDiscoveryConfigs(
    const QString &id, const QString &deviceName, MqttSubscriber &configs, MqttSubscriber &readings)
{
    // The units Home Assistant documents for each sensor device class meterlog uses.
    static const QMap<QString, QStringList> units {{"voltage", {"V"}}, {"current", {"A"}},
        {"power", {"W", "kW"}}, {"apparent_power", {"VA"}}, {"reactive_power", {"var"}},
        {"energy", {"Wh", "kWh"}}, {"frequency", {"Hz"}}, {"power_factor", {"", "%"}}};
    const QString below = QStringLiteral("%1/meter/%2/").arg(prefix, id);
    const QString node = QString(prefix).replace(u'/', u'_');
    QStringList uniqueIds;
    const QString devicePrefix
        = QStringLiteral("homeassistant/sensor/meterlog_%1_m%2/").arg(node, id);
    const auto fields = jsonOf(readings.latest(below + "values"));
    for (auto field = fields.begin(); field != fields.end(); ++field) {
        if (field.key() == u"time")
            continue;
        const QString configTopic = devicePrefix + field.key() + "/config";
        QTRY_VERIFY_WITH_TIMEOUT(!configs.latest(configTopic).isEmpty(), 5000);
        const auto config = jsonOf(configs.latest(configTopic));
        const QString what = configTopic + ": " + configs.latest(configTopic);
        // Required and expected keys, and topics that exist.
        QVERIFY2(config["state_topic"].toString() == below + field.key(), qPrintable(what));
        QVERIFY2(!readings.latest(config["state_topic"].toString()).isEmpty(), qPrintable(what));
        uniqueIds << config["unique_id"].toString();
        QVERIFY2(!config["name"].toString().isEmpty(), qPrintable(what));
        const auto availability = config["availability"].toArray();
        QVERIFY2(availability.size() == 2
                && availability[0]["topic"].toString() == prefix + "/status"
                && readings.latest(availability[0]["topic"].toString()) == u"online"
                && availability[1]["topic"].toString() == below + "state"
                && config["availability_mode"].toString() == u"all",
            qPrintable(what));
        const auto device = config["device"].toObject();
        QVERIFY2(!device["identifiers"].toArray().isEmpty() && !device["model"].toString().isEmpty()
                && device["name"].toString().startsWith(deviceName),
            qPrintable(what));
        const QString deviceClass = config["device_class"].toString();
        QVERIFY2(units.contains(deviceClass)
                && units[deviceClass].contains(config["unit_of_measurement"].toString()),
            qPrintable(what));
        if (deviceClass == u"energy")
            QVERIFY2(config["state_class"].toString() == u"total_increasing", qPrintable(what));
    }
    uniqueIds.removeDuplicates();
    QCOMPARE(uniqueIds.size(), fields.size() - 1);
}

void PublishingTest::brokerGoesAwayAndComesBack()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    Logger logger(sim.linkPath(), {"--mqtt", urlOf(broker)});
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
    Logger logger(sim.linkPath(), {"--mqtt", urlOf(broker)});
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
    Logger logger(sim.linkPath(), {"--mqtt", urlOf(broker, "logger:wrong@")});
    QTRY_COMPARE_WITH_TIMEOUT(readSnapshot(logger.folder()), documented::snapshotFile(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!logger.publishWarnings().isEmpty(), 5000);
    const auto warnings = logger.publishWarnings();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings[0].contains("refused the connection"), qPrintable(warnings[0]));
    QVERIFY2(!warnings[0].contains("wrong"), "the password is never logged");
}

void PublishingTest::refusalIsSaidOnceWhateverTheTries()
{
    MosquittoBroker broker(QList<std::pair<QString, QString>> {{"logger", "right"}});
    QVERIFY(broker.start());
    LogCapture log;
    auto publisher = quickPublisher(urlOf(broker, "logger:wrong@"));
    QVERIFY(publisher);
    QTRY_VERIFY_WITH_TIMEOUT(broker.refusedConnections() >= 3, 10000);
    // With its network thread ended, all it had to say is in the log.
    publisher.reset();
    const auto said = log.lines("meterlog.publish");
    QCOMPARE(said.size(), 1);
    QVERIFY2(said[0].contains("refused the connection"), qPrintable(said[0]));
}

namespace {

enum class Misbehaviour { DropsConnectionAttempts, NeverAnswers, SlowNameLookup };

} // namespace

void PublishingTest::exitIsPromptWhateverTheBroker_data()
{
    QTest::addColumn<int>("misbehaviour");
    QTest::newRow("its address drops connection attempts")
        << int(Misbehaviour::DropsConnectionAttempts);
    QTest::newRow("it takes the connection and never answers") << int(Misbehaviour::NeverAnswers);
    QTest::newRow("its name takes a minute to look up") << int(Misbehaviour::SlowNameLookup);
}

void PublishingTest::exitIsPromptWhateverTheBroker()
{
    QFETCH(int, misbehaviour);
    std::unique_ptr<MisbehavingBroker> broker;
    QString url;
    auto environment = QProcessEnvironment::systemEnvironment();
    if (Misbehaviour(misbehaviour) == Misbehaviour::SlowNameLookup) {
        url = "mqtt://broker.slow-lookup.test/" + prefix;
        environment.insert("LD_PRELOAD", SLOW_LOOKUP_LIBRARY);
        // An AddressSanitizer build wants its own library loaded first.
        environment.insert("ASAN_OPTIONS",
            environment.value("ASAN_OPTIONS") + QStringLiteral(":verify_asan_link_order=0"));
    } else {
        broker = std::make_unique<MisbehavingBroker>(
            Misbehaviour(misbehaviour) == Misbehaviour::DropsConnectionAttempts
                ? MisbehavingBroker::Behaviour::DropsConnectionAttempts
                : MisbehavingBroker::Behaviour::NeverAnswers);
        QVERIFY(broker->isListening());
        url = urlOf(broker->port());
    }
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    Logger logger(sim.linkPath(), {"--mqtt", url}, environment);
    // Polling has begun, so the broker has been tried since before it.
    QTRY_COMPARE_WITH_TIMEOUT(readSnapshot(logger.folder()), documented::snapshotFile(), 10000);
    logger.signal(SIGTERM);
    // A systemd stop waits 90 s, a blocking connect to a dropping address about 130 s.
    QVERIFY(logger.waitForExit());
    QVERIFY(logger.exitedCleanly());
}

void PublishingTest::attemptsArePacedByGrowingPauses()
{
    // Each attempt is taken and hung up on.
    MisbehavingBroker broker(MisbehavingBroker::Behaviour::HangsUp);
    QVERIFY(broker.isListening());
    LogCapture log;
    auto publisher = quickPublisher(urlOf(broker.port()));
    QVERIFY(publisher);
    QTRY_VERIFY_WITH_TIMEOUT(broker.connectAttempts() >= 5, 10000);
    publisher.reset();

    // Every pause is waited out, and none lasts twice its length: each pause is twice the one
    // before until the longest, which then stays.
    const auto &times = broker.connectTimes();
    const auto first = quickPacing.firstPause;
    const QList<std::chrono::milliseconds> pauses {
        first, 2 * first, quickPacing.longestPause, quickPacing.longestPause};
    QStringList gapsText;
    bool paced = true;
    for (int i = 0; i < pauses.size(); ++i) {
        const auto gap = times[i + 1] - times[i];
        gapsText << QString::number(std::chrono::duration<double, std::milli>(gap).count());
        paced = paced && gap >= pauses[i] && gap < 2 * pauses[i];
    }
    QVERIFY2(paced, qPrintable("gaps in ms: " + gapsText.join(u' ')));

    const auto said = log.lines("meterlog.publish");
    QCOMPARE(said.size(), 1);
    QVERIFY2(said[0].contains("closed the connection without answering"), qPrintable(said[0]));
}

void PublishingTest::tlsBrokerWithTheRightAuthorityGetsTheReadings()
{
    const auto &certificates = *m_certificates;
    MosquittoBroker broker({},
        BrokerTls {
            certificates.authority(), certificates.brokerCertificate(), certificates.brokerKey()});
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    // What the logger sends over TLS, the subscriber reads on the plain port.
    MqttSubscriber subscriber(broker.port(), prefix + "/#");
    Logger logger(sim.linkPath(),
        {"--mqtt", urlOf(broker.tlsPort(), {}, "mqtts"), "--mqtt-ca", certificates.authority()});
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.latest(topic("status")), QStringLiteral("online"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.latest(topic("snapshot")).toLatin1() + "\r\n",
        documented::snapshotFile(), 10000);
    QCOMPARE(logger.publishWarnings(), QStringList());
}

void PublishingTest::tlsFailuresAreNamed_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("toTlsPort");
    QTest::addColumn<bool>("certificateForThisHost");
    QTest::addColumn<QString>("authority"); // --mqtt-ca: empty for the system's
    QTest::addColumn<QString>("named");
    const auto &certificates = *m_certificates;
    QTest::newRow("unknown authority, given")
        << "mqtts" << true << true << certificates.otherAuthority()
        << "certificate from an unknown authority";
    QTest::newRow("unknown authority, the system's")
        << "mqtts" << true << true << QString() << "certificate from an unknown authority";
    QTest::newRow("host name mismatch") << "mqtts" << true << false << certificates.authority()
                                        << "certificate for another host (host name mismatch)";
    QTest::newRow("mqtts:// to a plain port")
        << "mqtts" << false << true << certificates.authority() << "gave no TLS answer on port";
    QTest::newRow("mqtt:// to a TLS port")
        << "mqtt" << true << true << QString() << "speaks TLS on port";
}

void PublishingTest::tlsFailuresAreNamed()
{
    QFETCH(QString, scheme);
    QFETCH(bool, toTlsPort);
    QFETCH(bool, certificateForThisHost);
    QFETCH(QString, authority);
    QFETCH(QString, named);
    const auto &certificates = *m_certificates;
    MosquittoBroker broker({},
        BrokerTls {certificates.authority(),
            certificateForThisHost ? certificates.brokerCertificate()
                                   : certificates.brokerCertificateForAnotherHost(),
            certificates.brokerKey()});
    QVERIFY(broker.start());
    MeterSimProcess sim(simOptions("--static"));
    QVERIFY(sim.start());
    QStringList options {"--mqtt", urlOf(toTlsPort ? broker.tlsPort() : broker.port(), {}, scheme)};
    if (!authority.isEmpty())
        options << "--mqtt-ca" << authority;
    Logger logger(sim.linkPath(), options);
    QTRY_VERIFY_WITH_TIMEOUT(!logger.publishWarnings().isEmpty(), 10000);
    const auto warning = logger.publishWarnings().constFirst();
    QVERIFY2(warning.contains(named), qPrintable(warning));
}

QTEST_GUILESS_MAIN(PublishingTest)
#include "tst_publishing.moc"

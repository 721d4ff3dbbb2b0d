// meterlog's /metrics scraped by Debian's Prometheus: the values Prometheus stores are those the
// pymodbus meters hold (laid out by Python's struct module), promtool reads the endpoint's text
// without a complaint, and clients that misbehave neither stop polling nor keep the next scrape
// from succeeding.

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <memory>

#include "tests/support/outsidetools.h"
#include "tests/support/pymodbusserver.h"

namespace {

struct Fetched
{
    int status = 0;
    QByteArray body;
};

Fetched fetch(QNetworkAccessManager &network, const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(5000);
    auto *reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Fetched fetched {
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    reply->deleteLater();
    return fetched;
}

// The value of one sample in the exposition text, or NaN.
double sampleOf(const QByteArray &text, const QByteArray &series)
{
    for (const auto &line : text.split('\n')) {
        if (line.startsWith(series + ' '))
            return line.mid(series.size() + 1).toDouble();
    }
    return qQNaN();
}

long residentKib(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const auto &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

class PrometheusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void prometheusStoresWhatTheMetersHold();
    void promtoolReadsTheEndpoint();
    void badClientsAreBounded_data();
    void badClientsAreBounded();

private:
    QUrl metricsUrl() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(m_metricsPort));
    }
    Fetched scrape() { return fetch(m_network, metricsUrl()); }
    // Prometheus's latest value of a query that selects one series; NaN while it has none.
    double queried(const QString &query);

    std::unique_ptr<TypedMeterServer> m_meters;
    QTemporaryDir m_scratch;
    QProcess m_meterlog;
    QProcess m_prometheus;
    quint16 m_metricsPort = 0;
    quint16 m_prometheusPort = 0;
    QNetworkAccessManager m_network;
};

void PrometheusTest::initTestCase()
{
    m_meters = std::make_unique<TypedMeterServer>(
        PYMODBUS_TYPED_METERS_SCRIPT, QStringList {"sdm630", "em24", "abb-b23"});
    QVERIFY(m_meters->start());
    m_metricsPort = freeLoopbackPort();
    m_meterlog.start(METERLOG_PATH,
        {"--headless", "--port", m_meters->url(), "--addresses", "1,2,3", "--meter-type",
            "sdm630,em24,abb-b23", "--folder", m_scratch.path(), "--metrics",
            QStringLiteral("127.0.0.1:%1").arg(m_metricsPort)});
    QVERIFY(m_meterlog.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        sampleOf(scrape().body, "meterlog_meter_up{meter=\"3\"}") == 1, 10'000);

    m_prometheusPort = freeLoopbackPort();
    QFile config(m_scratch.filePath("prometheus.yml"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                "scrape_configs:\n  - job_name: meterlog\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(m_metricsPort)
                     .toUtf8());
    config.close();
    m_prometheus.start(QStringLiteral("prometheus"),
        {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + m_scratch.filePath("tsdb"),
            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_prometheusPort)});
    QVERIFY2(
        m_prometheus.waitForStarted(), "prometheus is not installed (Debian package prometheus)");
}

void PrometheusTest::cleanupTestCase()
{
    for (auto *process : {&m_prometheus, &m_meterlog}) {
        process->terminate();
        process->waitForFinished(5000);
    }
}

double PrometheusTest::queried(const QString &query)
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(m_prometheusPort));
    url.setQuery(QUrlQuery {{QStringLiteral("query"), query}});
    const auto result = QJsonDocument::fromJson(fetch(m_network, url).body)["data"]["result"];
    if (!result.isArray() || result.toArray().size() != 1)
        return qQNaN();
    return result.toArray().first()["value"].toArray().at(1).toString().toDouble();
}

void PrometheusTest::prometheusStoresWhatTheMetersHold()
{
    const auto &held = m_meters->expected();
    // Floats and scaled integers as sent; energies in joules, from kWh.
    const struct
    {
        QString query;
        double expected;
    } series[] {
        {"meterlog_voltage_volts{meter=\"1\",phase=\"l1\"}", held["1"]["voltage_l1"].toDouble()},
        {"meterlog_energy_import_joules_total{meter=\"1\"}",
            held["1"]["energy_import"].toDouble() * 3.6e6},
        {"meterlog_current_amperes{meter=\"2\",phase=\"l3\"}", held["2"]["current_l3"].toDouble()},
        {"meterlog_energy_import_joules_total{meter=\"3\"}",
            held["3"]["energy_import"].toDouble() * 3.6e6},
        {"meterlog_power_watts{meter=\"3\"}", held["3"]["power"].toDouble()},
    };
    for (const auto &each : series) {
        QTRY_VERIFY_WITH_TIMEOUT(!qIsNaN(queried(each.query)), 20'000);
        const double value = queried(each.query);
        QVERIFY2(qAbs(value - each.expected) <= 1e-6 * qAbs(each.expected),
            qPrintable(
                QStringLiteral("%1: %2, held %3").arg(each.query).arg(value).arg(each.expected)));
    }
    // A value the meter marks as not available is no series at all.
    QVERIFY(qIsNaN(queried("meterlog_energy_export_joules_total{meter=\"3\"}")));
    QCOMPARE(queried("meterlog_meter_info{meter=\"2\",type=\"em24\",address=\"2\"}"), 1.0);
}

void PrometheusTest::promtoolReadsTheEndpoint()
{
    const auto scraped = scrape();
    QCOMPARE(scraped.status, 200);
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {"check", "metrics"});
    QVERIFY(promtool.waitForStarted());
    promtool.write(scraped.body);
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished());
    const QByteArray said = promtool.readAllStandardOutput() + promtool.readAllStandardError();
    QVERIFY2(promtool.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    // Other paths and methods.
    QCOMPARE(fetch(m_network, metricsUrl().resolved(QUrl("/"))).status, 404);
    QNetworkRequest post(metricsUrl());
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain"));
    auto *reply = m_network.post(post, QByteArray("x"));
    QTRY_VERIFY(reply->isFinished());
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 405);
    reply->deleteLater();
}

void PrometheusTest::badClientsAreBounded_data()
{
    QTest::addColumn<QByteArray>("sent"); // what each connection sends
    QTest::addColumn<int>("connections");
    // How many the server keeps open a moment later: a request it cannot read is answered and
    // closed at once, one that says nothing waits for its time-out, and one address gets 8.
    QTest::addColumn<int>("mostKept");
    QTest::newRow("connects and says nothing") << QByteArray() << 1 << 1;
    QTest::newRow("garbage") << QByteArray(64, '\x07') + "\r\n\r\n" << 1 << 0;
    QTest::newRow("a megabyte of headers") << "GET /metrics HTTP/1.1\r\nHost: x\r\n"
            + QByteArray("X-Pad: ").append(QByteArray(1 << 20, 'a'))
                                           << 1 << 0;
    QTest::newRow("a hundred connections") << QByteArray() << 100 << 8;
}

void PrometheusTest::badClientsAreBounded()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, connections);
    QFETCH(int, mostKept);
    const long residentBefore = residentKib(m_meterlog.processId());
    const QString snapshotFile = m_scratch.filePath("datamirab.txt");
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < connections; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), m_metricsPort);
        socket->waitForConnected(2000);
        if (!sent.isEmpty())
            socket->write(sent);
        sockets.push_back(std::move(socket));
    }
    const auto kept = [&] {
        return std::count_if(sockets.begin(), sockets.end(), [](const auto &socket) {
            socket->waitForReadyRead(0);
            return socket->state() == QAbstractSocket::ConnectedState;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(kept() <= mostKept, 3000);
    // While they hang on, polling goes on at its pace: the snapshot file is rewritten after
    // every scan.
    for (int tick = 0; tick < 5; ++tick) {
        const auto before = QFileInfo(snapshotFile).lastModified();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(snapshotFile).lastModified() > before, 1000);
    }
    QVERIFY2(residentKib(m_meterlog.processId()) < residentBefore + 8 * 1024,
        qPrintable(QString::number(residentKib(m_meterlog.processId()) - residentBefore)));
    sockets.clear();
    // And the next scrape succeeds.
    QTRY_COMPARE(scrape().status, 200);
}

QTEST_GUILESS_MAIN(PrometheusTest)
#include "tst_prometheus.moc"

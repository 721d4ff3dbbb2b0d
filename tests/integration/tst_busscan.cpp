// meterlog --scan against pymodbus meters of several makers at scattered addresses on one RTU
// line, each holding its maker's identification registers as the makers' documents give them;
// with a device of no known kind, a meter whose maker has no identification register, and one
// whose first answer is garbage.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>

#include "tests/support/pymodbusserver.h"

namespace {

constexpr const char *unknownModel = "present, model unknown";

struct Meter
{
    const char *maker;
    int address;
    const char *meterOnLine; // as the script takes it
    const char *found; // what the scan must say of it
};

const Meter meters[] {
    {"Eastron SDM630", 3, "sdm630", "sdm630"},
    {"Carlo Gavazzi EM24, its first answer garbled", 7, "em24!garbled", "em24"},
    {"ABB B23", 12, "abb-b23", "abb-b23"},
    {"Eastron SDM120", 13, "sdm120", "sdm120"},
    {"a device of no known kind", 20, "unknown", unknownModel},
    {"Carlo Gavazzi EM340", 21, "em340", "em340"},
    {"Eastron SDM72D-M v2", 31, "sdm72", "sdm72"},
    {"Carlo Gavazzi EM24_E1", 40, "em24-e1", "em24-e1"},
    {"Siemens PAC2200, no identification register", 44, "pac2200", unknownModel},
};

// Runs meterlog and returns its standard output; a failed check when it does not end with 0.
QString runMeterlog(const QStringList &arguments)
{
    QProcess meterlog;
    meterlog.start(METERLOG_PATH, arguments);
    if (!meterlog.waitForFinished(60'000) || meterlog.exitCode() != 0) {
        qWarning("meterlog %s: %s", qPrintable(arguments.join(u' ')),
            meterlog.readAllStandardError().constData());
        return {};
    }
    return QString::fromUtf8(meterlog.readAllStandardOutput());
}

} // namespace

class BusScanTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyDeviceFoundAndNamedRight_data();
    void everyDeviceFoundAndNamedRight();
    void nothingElseFoundAndTheLineFileRuns();

private:
    QTemporaryDir m_scratch;
    std::unique_ptr<TypedMeterServer> m_line;
    // What the scan said of each address it listed.
    std::map<int, QString> m_found;
    QString m_summary;
};

void BusScanTest::initTestCase()
{
    QStringList onLine;
    for (const auto &meter : meters)
        onLine << QStringLiteral("%1=%2").arg(meter.address).arg(meter.meterOnLine);
    m_line = std::make_unique<TypedMeterServer>(
        PYMODBUS_TYPED_METERS_SCRIPT, onLine, TypedMeterServer::Link::Serial);
    QVERIFY(m_line->start());
    const QString output = runMeterlog({"--scan", "--port", m_line->url(), "--addresses", "1-47",
        "--write", m_scratch.filePath("found.toml")});
    static const QRegularExpression found(QStringLiteral("^address (\\d+): ([^(]+) \\("));
    for (const auto &line : output.split(u'\n', Qt::SkipEmptyParts)) {
        const auto match = found.match(line);
        if (match.hasMatch())
            m_found[match.captured(1).toInt()] = match.captured(2);
        else
            m_summary = line;
    }
    QVERIFY2(m_summary.startsWith("asked 47 addresses"), qPrintable(output));
}

void BusScanTest::everyDeviceFoundAndNamedRight_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("model");
    for (const auto &meter : meters)
        QTest::newRow(meter.maker) << meter.address << QString::fromLatin1(meter.found);
}

void BusScanTest::everyDeviceFoundAndNamedRight()
{
    QFETCH(int, address);
    QFETCH(QString, model);
    QVERIFY2(m_found.contains(address), qPrintable(m_summary));
    QCOMPARE(m_found[address], model);
}

void BusScanTest::nothingElseFoundAndTheLineFileRuns()
{
    QCOMPARE(m_found.size(), std::size(meters));
    QVERIFY2(m_summary.contains(QStringLiteral("%1 found").arg(std::size(meters))),
        qPrintable(m_summary));
    // The recognised meters, in order, and nothing for the others.
    const QString check = runMeterlog({"--config", m_scratch.filePath("found.toml"), "--check"});
    static const QRegularExpression meterLine(
        QStringLiteral("^meter \\d+: address (\\d+), (\\S+),"),
        QRegularExpression::MultilineOption);
    QStringList checked, recognised;
    for (auto match = meterLine.globalMatch(check); match.hasNext();) {
        const auto each = match.next();
        checked << each.captured(1) + u'=' + each.captured(2);
    }
    for (const auto &meter : meters) {
        if (meter.found != QLatin1String(unknownModel))
            recognised << QStringLiteral("%1=%2").arg(meter.address).arg(meter.found);
    }
    QCOMPARE(checked, recognised);
}

QTEST_GUILESS_MAIN(BusScanTest)
#include "tst_busscan.moc"

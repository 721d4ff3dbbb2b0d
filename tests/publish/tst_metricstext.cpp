// The exposition text Prometheus reads: base units, labels, and no value a meter's latest scan
// did not confirm.

#include <QTest>

#include "meters/metertypefile.h"
#include "publish/metricstext.h"

using namespace meterlog;

class MetricsTextTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyConfirmedValuesInBaseUnits();
};

void MetricsTextTest::onlyConfirmedValuesInBaseUnits()
{
    const auto sdm630 = std::get<MeterType>(findMeterType("sdm630"));
    Reading reading;
    reading.meters.resize(3);
    reading.polled = {true, true, true};
    reading.fields.resize(3);
    reading.labels = {{"incomer", "Main \"A\" incomer"}, {"pump", "Pump"}, {"", "M3"}};
    reading.kilowatts = {"", "", "12", "", ""};
    for (int meter = 0; meter < 2; ++meter) {
        reading.meters[meter].lastDevice = std::uint8_t(11 + meter);
        reading.fields[meter] = MeterFields {QDateTime::currentDateTimeUtc(),
            {{"voltage_l2", 230.5}, {"energy_import", 2.5}, {"power_l1", 100.0},
                {"energy_export", std::nullopt}}};
    }
    // The incomer answered its latest scan; the pump did not, and keeps its older values.
    reading.meters[0].lastScanVerified = true;
    reading.meters[1].lastScanVerified = false;
    reading.meters[2].lastScanVerified = true;
    const auto text = metricsText(reading, {sdm630, sdm630, std::nullopt});
    const auto has = [&](const char *line) { return text.split('\n').contains(line); };

    QVERIFY(has("meterlog_voltage_volts{meter=\"incomer\",phase=\"l2\"} 230.5"));
    QVERIFY(has("meterlog_energy_import_joules_total{meter=\"incomer\"} 9000000"));
    QVERIFY(has("meterlog_phase_power_watts{meter=\"incomer\",phase=\"l1\"} 100"));
    QVERIFY(has("# TYPE meterlog_energy_import_joules_total counter"));
    QVERIFY(has("meterlog_meter_info{meter=\"incomer\",name=\"Main \\\"A\\\" "
                "incomer\",address=\"11\",type=\"sdm630\"} 1"));
    // A value the meter marked as not available, and every value of a stale meter, are absent.
    QVERIFY(!text.contains("meterlog_energy_export_joules_total"));
    QVERIFY(has("meterlog_meter_up{meter=\"pump\"} 0"));
    QVERIFY(!text.contains("meterlog_voltage_volts{meter=\"pump\""));
    // A default meter's kW, in watts; a meter without an id of its own is called by its place.
    QVERIFY(has("meterlog_power_watts{meter=\"3\"} 12000"));
}

QTEST_GUILESS_MAIN(MetricsTextTest)
#include "tst_metricstext.moc"

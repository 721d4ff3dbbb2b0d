#include "publish/metricstext.h"

#include <QString>

#include <charconv>
#include <map>

#include "common/numberreading.h"

namespace meterlog {

namespace {

// One metric family: its HELP and TYPE lines, then its samples in the order they came.
struct Family
{
    QByteArray help;
    const char *type;
    QByteArray samples;
};

class Exposition
{
public:
    void add(const QByteArray &name, const QByteArray &help, const char *type,
        const QByteArray &labels, double value)
    {
        auto found = m_index.find(name);
        if (found == m_index.end()) {
            found = m_index.emplace(name, m_families.size()).first;
            m_families.push_back({name, {help, type, {}}});
        }
        auto &samples = m_families[found->second].second.samples;
        samples += name;
        if (!labels.isEmpty())
            samples += '{' + labels + '}';
        samples += ' ' + number(value) + '\n';
    }

    QByteArray text() const
    {
        QByteArray text;
        for (const auto &[name, family] : m_families) {
            text += "# HELP " + name + ' ' + family.help + '\n';
            text += "# TYPE " + name + ' ' + family.type + '\n';
            text += family.samples;
        }
        return text;
    }

private:
    // 15 significant digits: a scaled value reads 232.7, not 232.70000000000002.
    static QByteArray number(double value)
    {
        constexpr int significantDigits = 15;
        char digits[32];
        const auto end = std::to_chars(
            digits, digits + sizeof digits, value, std::chars_format::general, significantDigits)
                             .ptr;
        return QByteArray(digits, end - digits);
    }

    std::vector<std::pair<QByteArray, Family>> m_families;
    std::map<QByteArray, std::size_t> m_index;
};

// A label value: backslash, double quote and line feed escaped.
QByteArray escaped(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return bytes;
}

QByteArray label(const char *name, const QString &value)
{
    return QByteArray(name) + "=\"" + escaped(value) + '"';
}

// A field's unit as Prometheus's base unit: its name and the factor to it; nothing for a unit
// that has none here.
struct BaseUnit
{
    const char *name;
    double factor;
};

std::optional<BaseUnit> baseUnitOf(const QString &unit)
{
    static const std::map<QString, BaseUnit> units {
        {QStringLiteral("V"), {"volts", 1}},
        {QStringLiteral("A"), {"amperes", 1}},
        {QStringLiteral("W"), {"watts", 1}},
        {QStringLiteral("kW"), {"watts", 1000}},
        {QStringLiteral("Hz"), {"hertz", 1}},
        {QStringLiteral("Wh"), {"joules", 3600}},
        {QStringLiteral("kWh"), {"joules", 3.6e6}},
        {QStringLiteral("VA"), {"voltamperes", 1}},
        {QStringLiteral("var"), {"voltamperes_reactive", 1}},
        {QString(), {"ratio", 1}},
    };
    const auto found = units.find(unit);
    return found == units.end() ? std::nullopt : std::optional(found->second);
}

// The quantities a meter gives both as a total and by phase: their phases go to families of
// their own (meterlog_phase_power_watts), so that summing a family never counts a value twice.
bool hasTotal(const QString &quantity)
{
    return quantity != u"voltage" && quantity != u"current";
}

void addField(Exposition &exposition, const QString &meterId, const MeterField &field, double value)
{
    const auto unit = baseUnitOf(field.unit);
    if (!unit)
        return;
    QString quantity = field.name;
    QString phase;
    static const QStringList phases {
        QStringLiteral("_l1"), QStringLiteral("_l2"), QStringLiteral("_l3")};
    for (const auto &suffix : phases) {
        if (quantity.endsWith(suffix)) {
            phase = suffix.mid(1);
            quantity.chop(suffix.size());
        }
    }
    // An energy counts up: a counter; its family drops the quantity's unit-less word "energy"
    // of the total (meterlog_energy_joules_total for energy_total).
    const bool counter = quantity.startsWith(u"energy");
    QString stem = quantity == u"energy_total" ? QStringLiteral("energy") : quantity;
    if (!phase.isEmpty() && hasTotal(quantity))
        stem.prepend(QStringLiteral("phase_"));
    const QByteArray name
        = "meterlog_" + stem.toLatin1() + '_' + unit->name + (counter ? "_total" : "");
    QByteArray labels = label("meter", meterId);
    if (!phase.isEmpty())
        labels += ',' + label("phase", phase);
    const QByteArray help = "The meters' " + quantity.toLatin1().replace('_', ' ')
        + (phase.isEmpty() ? "" : " by phase") + ", " + unit->name
        + ", from their most recent scan.";
    exposition.add(name, help, counter ? "counter" : "gauge", labels, value * unit->factor);
}

// A slot of a line given by options has no id of its own: it is called by its place.
QString idOf(const Reading &reading, std::size_t meter)
{
    const QString &id = reading.labels[meter].id;
    return id.isEmpty() ? QString::number(meter + 1) : id;
}

void addHealth(Exposition &exposition, const QByteArray &meter, const MeterCounters &counters)
{
    exposition.add("meterlog_meter_up",
        "1 when the meter's most recent scan got a verified reply from it, else 0.", "gauge", meter,
        counters.confirmed() ? 1 : 0);
    struct Count
    {
        const char *name;
        const char *help;
        std::uint64_t count;
    };
    const Count counts[] {
        {"requests", "Requests sent to the meter", counters.requestsSent},
        {"replies", "Verified replies of the meter", counters.verifiedReplies},
        {"timeouts", "Requests the meter gave no whole reply to in time", counters.timeouts},
        {"crc_errors", "Replies whose checksum did not match", counters.crcErrors},
        {"foreign_replies", "Correct replies from another device address", counters.foreignReplies},
        {"exceptions", "Exception replies of the meter", counters.exceptionReplies},
    };
    for (const auto &count : counts) {
        exposition.add(QByteArray("meterlog_meter_") + count.name + "_total",
            QByteArray(count.help) + " since meterlog started.", "counter", meter,
            double(count.count));
    }
    if (counters.lastReplyAt.isValid()) {
        exposition.add("meterlog_meter_last_reply_timestamp_seconds",
            "When the meter's last verified reply came, in seconds since the epoch.", "gauge",
            meter, double(counters.lastReplyAt.toMSecsSinceEpoch()) / 1000);
    }
}

} // namespace

QByteArray metricsText(const Reading &reading, const std::vector<std::optional<MeterType>> &types)
{
    Exposition exposition;
    const auto &line = reading.line;
    exposition.add("meterlog_link_up", "1 while the link to the meters is open, else 0.", "gauge",
        {}, line.linkUp ? 1 : 0);
    exposition.add("meterlog_scans_total", "Scans of the line since meterlog started.", "counter",
        {}, double(line.scans));
    exposition.add("meterlog_scan_duration_seconds", "How long the line's last scan took.", "gauge",
        {}, std::chrono::duration<double>(line.lastScanDuration).count());

    for (std::size_t meter = 0; meter < reading.meters.size(); ++meter) {
        if (!reading.polled[meter] || meter >= reading.labels.size())
            continue;
        const auto &counters = reading.meters[meter];
        const QString id = idOf(reading, meter);
        const QByteArray labelled = label("meter", id);
        const auto *type = meter < types.size() && types[meter] ? &*types[meter] : nullptr;
        exposition.add("meterlog_meter_info",
            "A meter of the line: its name, address and type (the value is always 1).", "gauge",
            labelled + ',' + label("name", reading.labels[meter].name) + ','
                + label("address",
                    counters.lastDevice ? QString::number(*counters.lastDevice) : QString())
                + ',' + label("type", type ? type->name : QStringLiteral("default")),
            1);
        addHealth(exposition, labelled, counters);
        if (!counters.confirmed())
            continue;
        if (!type) {
            // A default meter in a slot: its power is the caption, kW as the meter counts them.
            if (meter < reading.kilowatts.size()) {
                if (const auto kilowatts = readWholeNumber(reading.kilowatts[meter])) {
                    MeterField power;
                    power.name = QStringLiteral("power");
                    power.unit = QStringLiteral("kW");
                    addField(exposition, id, power, *kilowatts);
                }
            }
            continue;
        }
        const auto &fields = reading.fields[meter];
        if (!fields)
            continue;
        for (const auto &field : type->fields) {
            for (const auto &sent : fields->values) {
                if (sent.name == field.name && sent.value)
                    addField(exposition, id, field, *sent.value);
            }
        }
    }

    // The line's frequency as the window and the snapshot file show it, in 1/100 Hz.
    const auto source = reading.frequencySlot;
    if (source && std::size_t(*source) < reading.meters.size()
        && std::size_t(*source) < reading.labels.size() && reading.meters[*source].confirmed()) {
        if (const auto count = readWholeNumber(reading.frequency)) {
            exposition.add("meterlog_line_frequency_hertz",
                "The line's frequency as the window shows it, from the meter named.", "gauge",
                label("meter", idOf(reading, std::size_t(*source))),
                *count * defaultMeter::hertzPerCount);
        }
    }
    return exposition.text();
}

} // namespace meterlog

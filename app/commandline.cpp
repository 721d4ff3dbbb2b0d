#include "app/commandline.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "app/programfolder.h"
#include "app/runreport.h"
#include "meters/linefile.h"
#include "meters/meters.h"
#include "meters/metertypefile.h"
#include "modbus/busscan.h"
#include "net/networkaddress.h"
#include "publish/brokertls.h"
#include "publish/metricsserver.h"
#include "serial/linesettings.h"

namespace meterlog {

namespace {

// Digits only, within the bounds: "0x10", "1e3", "+5" and blanks are refused.
std::optional<int> wholeNumberIn(const QString &text, int lowest, int highest)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

bool isPortText(const QString &text)
{
    if (namesNetworkAddress(text))
        return parseNetworkAddress(text).has_value();
    return text.startsWith(u'/') || wholeNumberIn(text, 1, 32767);
}

bool isLineSettings(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,7}),([neoNEO]),([78]),([12])$"));
    const auto match = form.match(text);
    return match.hasMatch() && wholeNumberIn(match.captured(1), 50, 4'000'000)
        && parseLineSettings(text);
}

// A function-3 reply holds at most 125 registers (its byte count is 250).
constexpr int mostRegisters = 125;

// Different meters: two slots asking one address would read one meter twice.
std::optional<QStringList> addressList(const QString &text)
{
    const QStringList addresses = text.split(u',');
    if (addresses.size() > slotCount)
        return std::nullopt;
    std::set<int> seen;
    for (const auto &address : addresses) {
        const auto number = wholeNumberIn(address, lowestMeterAddress, highestMeterAddress);
        if (!number || !seen.insert(*number).second)
            return std::nullopt;
    }
    return addresses;
}

// The first line of a regular file, without its line end; nothing when the file cannot be read
// or that line is empty.
std::optional<QString> passwordIn(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray line = file.readLine();
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(line);
}

// Each built-in type: its name, what it reads, how it is read, and how far its map is known to
// be right, so that a user knows what to compare with the meter's manual.
QString meterTypesListing()
{
    QString list;
    const auto line = [&](const QString &text) { list += QStringLiteral("    %1\n").arg(text); };
    for (const auto &type : builtInMeterTypes()) {
        list += type.name + QLatin1Char('\n');
        if (!type.maker.isEmpty())
            line(QStringLiteral("%1 %2").arg(type.maker, type.models));
        line(type.description);
        if (!type.followsWindow)
            line(readingPlan(type));
        if (!type.checked.isEmpty())
            line(QStringLiteral("map checked against: %1").arg(type.checked));
    }
    return list;
}

// One option: --NAME on the command line, NAME with _ for - in a line file.
struct OptionSpec
{
    const char *name;
    const char *valueName; // null for a switch
    const char *description;
    const char *form; // what the value must be, for the line that refuses it
    bool inLineFile = true;
};

// Every option, in the order --help lists them: the command line, the line file's keys, --help
// and the manual page are all made from this table.
const std::array optionTable {
    OptionSpec {"config", "FILE",
        "Read the line from a TOML file: any option below as a key (with _ for -) and the meters "
        "as [[meter]] tables with address, type, id, name, reply_timeout and every. Options "
        "given beside it override the file's keys.",
        "a line file that can be read", false},
    OptionSpec {"check", nullptr,
        "Say what the line would do (the link, its settings, each meter with its type and "
        "requests) and end, touching nothing: exit code 0, or 2 at the first fault.",
        "", false},
    OptionSpec {"scan", nullptr,
        "Find the meters on the line instead of polling it: ask every address of --addresses "
        "once (a short reply limit, --reply-timeout), name each device found by its maker's "
        "identification register where its type has one, print what was found and end. Sends "
        "reads only.",
        "", false},
    OptionSpec {"write", "FILE",
        "With --scan: write what was found as a line file that --config runs, a commented entry "
        "for a device of no known type.",
        "a file in an existing folder in which meterlog can write", false},
    OptionSpec {"port", "P",
        "The port box's text at start-up instead of 9: a port number, a device path such as "
        "/dev/ttyUSB0 or /dev/serial/by-id/..., tcp://HOST[:PORT] for a Modbus TCP gateway or "
        "meter (port 502 unless given), or rtu+tcp://HOST:PORT for RTU frames over TCP (a "
        "transparent gateway).",
        "a port number 1 to 32767, a device path starting with /, tcp://HOST[:PORT] or "
        "rtu+tcp://HOST:PORT"},
    OptionSpec {"line", "SETTINGS",
        "The line settings instead of 38400,n,8,1: baud, parity n/e/o, data bits 7/8, stop "
        "bits 1/2.",
        "BAUD,PARITY,DATA,STOP such as 9600,e,8,1 (baud 50 to 4000000, parity n, e or o, data "
        "bits 7 or 8, stop bits 1 or 2)"},
    OptionSpec {"addresses", "LIST",
        "Device addresses for slots 1 to 5 in order, comma-separated; slots without one start "
        "unticked and empty. With --scan: the addresses to ask, such as 1-247 (the default) or "
        "1,5,7-9.",
        "one to five different device addresses 1 to 247, comma-separated, such as 11,12,13 "
        "(with --scan: ranges such as 1-247 or 1,5,7-9)"},
    OptionSpec {"start", "N", "The start address instead of 4011.", "a start address 0 to 65535"},
    OptionSpec {
        "count", "N", "The number of registers instead of 12.", "a register count 1 to 125"},
    OptionSpec {"folder", "DIR",
        "The folder for the snapshot file and the comN links instead of the program's folder.",
        "an existing folder in which meterlog can write"},
    OptionSpec {"function", "F",
        "The function code the window's registers are read with instead of 3 (holding "
        "registers): 4 reads input registers.",
        "3 or 4"},
    OptionSpec {"meter-type", "T",
        "The meter type of every ticked slot, or T1,T2,... one a slot (empty: the default): a "
        "built-in type (see --meter-types) or a type file.",
        "a meter type, or one a slot separated by commas"},
    OptionSpec {"reply-timeout", "MS",
        "The longest a meter may take to answer, in milliseconds (default 500).",
        "milliseconds 10 to 10000"},
    OptionSpec {"history", "DIR",
        "Keep a history: one CSV file a day in DIR, a row every --history-every seconds.",
        "an existing folder in which meterlog can write"},
    OptionSpec {"history-every", "S", "Seconds between two rows of the history (default 10).",
        "seconds 1 to 86400"},
    OptionSpec {"history-days", "N",
        "Remove history files older than N days (default: keep them all).",
        "a number of days 1 to 36500"},
    OptionSpec {"mqtt", "URL",
        "Publish the readings to an MQTT broker: mqtt://[user[:password]@]host[:port]/prefix, "
        "or mqtts:// for TLS.",
        "mqtt://[user[:password]@]host[:port]/prefix or mqtts://..., port 1 to 65535, the "
        "prefix without + or #"},
    OptionSpec {"mqtt-ca", "FILE",
        "With an mqtts:// URL: the certificate authorities to check the broker by (default: the "
        "system's).",
        "a PEM file with at least one certificate, with an mqtts:// URL"},
    OptionSpec {"mqtt-password-file", "FILE",
        "The password for the --mqtt URL's user: the first line of FILE (keep it mode 600), so "
        "that it is neither in the URL nor in the process list.",
        "a readable file whose first line is the password"},
    OptionSpec {"mqtt-discovery", "PREFIX",
        "Publish Home Assistant discovery configs for the typed meters' fields below PREFIX "
        "(homeassistant when PREFIX is left out).",
        "a topic prefix without + or #, with --mqtt"},
    OptionSpec {"metrics", "[HOST:]PORT",
        "Serve the readings and each meter's health to Prometheus at http://HOST:PORT/metrics "
        "(HOST 127.0.0.1 unless given; PORT 19502 when left out).",
        "[HOST:]PORT with PORT 1 to 65535 and HOST an IPv4 address or an IPv6 one in brackets"},
    OptionSpec {"readings", "SPAN",
        "Open the readings window (a table and a trend chart) at start-up, its chart over SPAN: "
        "10m, 1h or 24h (10m when left out). Ctrl+R and the window's context menu open it too.",
        "10m, 1h or 24h"},
    OptionSpec {"manual", nullptr, "Start in Manual mode.", ""},
    OptionSpec {"headless", nullptr,
        "Show no window (for a service); polling and the snapshot file go on.", ""},
    OptionSpec {"trace", nullptr, "Log every request and reply in hex with its verdict.", ""},
};

const OptionSpec &optionNamed(const char *name)
{
    const auto found = std::find_if(optionTable.begin(), optionTable.end(),
        [&](const OptionSpec &each) { return qstrcmp(name, each.name) == 0; });
    Q_ASSERT(found != optionTable.end());
    return *found;
}

QString keyOf(const OptionSpec &option)
{
    return QString::fromLatin1(option.name).replace(u'-', u'_');
}

// The value of an option as given: on the command line, or at a line of the line file.
struct GivenValue
{
    QString text;
    int fileLine = 0; // 0: the command line
};

// The options given, from the command line and the line file, and how to refuse one: a fault on
// the command line is said as "meterlog: ... (see meterlog --help)", one in the file as
// "FILE:LINE: ...", naming the option as it was written there.
class GivenOptions
{
public:
    explicit GivenOptions(QString lineFile = {})
        : m_lineFile(std::move(lineFile))
    { }

    void set(const char *name, GivenValue value) { m_values[name] = std::move(value); }
    bool has(const char *name) const { return m_values.contains(name); }
    QString value(const char *name) const
    {
        const auto found = m_values.find(name);
        return found == m_values.end() ? QString() : found->second.text;
    }
    // As the option was written where it was given; one that was not given, as it would be
    // written where `sayingOf` was.
    QString named(const char *name, const char *sayingOf = nullptr) const
    {
        const bool inTheFile = has(name) ? inFile(name) : sayingOf && inFile(sayingOf);
        return inTheFile ? keyOf(optionNamed(name)) : QStringLiteral("--") + QLatin1String(name);
    }
    EarlyExit refuse(const QString &why, const char *about = nullptr) const
    {
        if (about && inFile(about)) {
            return EarlyExit {badCommandLineExitCode,
                QStringLiteral("%1:%2: %3").arg(m_lineFile).arg(line(about)).arg(why)};
        }
        return EarlyExit {
            badCommandLineExitCode, QStringLiteral("meterlog: %1 (see meterlog --help)").arg(why)};
    }
    EarlyExit refuseValue(const char *name) const
    {
        const QString quoted = QStringLiteral("\"%1\"").arg(value(name));
        return refuse(QStringLiteral("%1 takes %2, not %3")
                          .arg(named(name), QLatin1String(optionNamed(name).form), quoted),
            name);
    }

private:
    bool inFile(const char *name) const { return line(name) > 0; }
    int line(const char *name) const
    {
        const auto found = m_values.find(name);
        return found == m_values.end() ? 0 : found->second.fileLine;
    }

    QString m_lineFile;
    std::map<QString, GivenValue> m_values;
};

QList<LineFileKey> lineFileKeys()
{
    QList<LineFileKey> keys;
    for (const auto &option : optionTable) {
        if (option.inLineFile)
            keys << LineFileKey {keyOf(option), !option.valueName, QLatin1String(option.form)};
    }
    return keys;
}

// The meters of a line file take the window's slots in order; the slots' boxes then say nothing
// of their own.
std::optional<EarlyExit> takeMeters(
    const LineFile &file, const QString &path, const GivenOptions &given, ProgramOptions &options)
{
    if (file.meters.empty())
        return std::nullopt;
    for (const char *bySlot : {"addresses", "meter-type"}) {
        if (given.has(bySlot)) {
            return given.refuse(QStringLiteral("%1 or [[meter]] tables in %2: one or the other")
                                    .arg(given.named(bySlot), path),
                bySlot);
        }
    }
    options.meters = file.meters;
    options.start.addresses.clear();
    options.start.labels.clear();
    const std::size_t meters = std::max(file.meters.size(), std::size_t(slotCount));
    for (std::size_t slot = 0; slot < meters; ++slot) {
        if (slot >= file.meters.size()) {
            // A slot the line leaves empty.
            options.start.labels.push_back({QString(), QStringLiteral("M%1").arg(slot + 1)});
            continue;
        }
        const auto &meter = file.meters[slot];
        // A meter without a name of its own is called as a slot is, or by its id.
        static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
        const QString name = meter.name != meter.id ? meter.name
            : digits.match(meter.id).hasMatch()     ? QStringLiteral("M%1").arg(meter.id)
                                                    : meter.id;
        options.start.labels.push_back({meter.id, name});
        if (slot >= std::size_t(slotCount)) {
            options.start.beyondSlots.push_back(meter);
            continue;
        }
        options.start.addresses << QString::number(meter.address);
        options.start.meterTypes[slot] = meter.type;
        options.start.replyLimits[slot] = meter.replyLimit;
        options.start.every[slot] = meter.every;
    }
    return std::nullopt;
}

// The port and its line settings, as a poll and a scan both take them.
std::optional<EarlyExit> settleLine(const GivenOptions &given, StartValues &start)
{
    if (given.has("port")) {
        if (!isPortText(given.value("port")))
            return given.refuseValue("port");
        start.port = given.value("port");
    }
    if (given.has("line")) {
        if (!isLineSettings(given.value("line")))
            return given.refuseValue("line");
        start.lineSettings = given.value("line").toLower();
    }
    return std::nullopt;
}

// A bus scan: the line, the addresses and the reply limit; the types to recognise meters by,
// besides the built-in ones; where to write the line file.
std::variant<ProgramOptions, EarlyExit> settleScan(
    const GivenOptions &given, ProgramOptions options)
{
    const auto valueOf = [&](const char *name) { return given.value(name); };
    const auto refuseValue = [&](const char *name) { return given.refuseValue(name); };
    static const std::set<QString> usedByScan {QStringLiteral("scan"), QStringLiteral("write"),
        QStringLiteral("port"), QStringLiteral("line"), QStringLiteral("addresses"),
        QStringLiteral("reply-timeout"), QStringLiteral("meter-type"), QStringLiteral("folder"),
        QStringLiteral("trace")};
    for (const auto &option : optionTable) {
        if (given.has(option.name) && !usedByScan.contains(QLatin1String(option.name))) {
            return given.refuse(QStringLiteral("--scan finds the meters and ends: not with %1")
                                    .arg(given.named(option.name)),
                option.name);
        }
    }
    BusScanOptions scan;
    if (const auto refused = settleLine(given, options.start))
        return *refused;
    scan.addresses = everyDeviceAddress();
    if (given.has("addresses")) {
        scan.addresses = addressRanges(valueOf("addresses")).value_or(QList<int>());
        if (scan.addresses.isEmpty())
            return refuseValue("addresses");
    }
    if (given.has("reply-timeout")) {
        const auto limit = wholeNumberIn(valueOf("reply-timeout"), 10, 10'000);
        if (!limit)
            return refuseValue("reply-timeout");
        scan.replyLimit = std::chrono::milliseconds(*limit);
    }
    if (given.has("meter-type")) {
        for (const auto &name : valueOf("meter-type").split(u',')) {
            const auto type = findMeterType(name);
            if (const auto *why = std::get_if<QString>(&type)) {
                return given.refuse(
                    QStringLiteral("%1: %2").arg(given.named("meter-type"), *why), "meter-type");
            }
            scan.extraTypes << std::get<MeterType>(type);
        }
    }
    if (given.has("write")) {
        if (!isWritableFolder(QFileInfo(valueOf("write")).absolutePath()))
            return refuseValue("write");
        scan.lineFile = QFileInfo(valueOf("write")).absoluteFilePath();
    }
    if (given.has("folder")) {
        if (!isWritableFolder(valueOf("folder")))
            return refuseValue("folder");
        options.folder = QFileInfo(valueOf("folder")).absoluteFilePath();
    }
    options.trace = given.has("trace");
    options.headless = true;
    options.scan = scan;
    return options;
}

// Checks every value given and sets it; the first bad one is the one reported.
std::variant<ProgramOptions, EarlyExit> settle(const GivenOptions &given, ProgramOptions options)
{
    if (given.has("scan"))
        return settleScan(given, std::move(options));
    if (given.has("write"))
        return given.refuse(QStringLiteral("--write goes with --scan"), "write");
    const auto valueOf = [&](const char *name) { return given.value(name); };
    const auto refuseValue = [&](const char *name) { return given.refuseValue(name); };

    if (const auto refused = settleLine(given, options.start))
        return *refused;
    if (given.has("addresses")) {
        const auto list = addressList(valueOf("addresses"));
        if (!list)
            return refuseValue("addresses");
        options.start.addresses = *list;
    }
    if (given.has("start")) {
        if (!wholeNumberIn(valueOf("start"), 0, 65535))
            return refuseValue("start");
        options.start.startAddress = valueOf("start");
    }
    if (given.has("count")) {
        if (!wholeNumberIn(valueOf("count"), 1, mostRegisters))
            return refuseValue("count");
        options.start.registerCount = valueOf("count");
    }
    // Registers end at 65535: a block that runs past it can never be read.
    const int first
        = options.start.startAddress ? options.start.startAddress->toInt() : createdStartAddress;
    const int length
        = options.start.registerCount ? options.start.registerCount->toInt() : createdRegisterCount;
    if (first + length > 65536) {
        return given.refuse(QStringLiteral("registers %1 to %2 run past the last register, "
                                           "65535; choose %3 and %4 so that start + count <= "
                                           "65536")
                                .arg(first)
                                .arg(first + length - 1)
                                .arg(given.named("start", given.has("start") ? "start" : "count"),
                                    given.named("count", given.has("start") ? "start" : "count")),
            given.has("start") ? "start" : "count");
    }
    if (given.has("function")) {
        const auto code = wholeNumberIn(valueOf("function"), 3, 4);
        if (!code)
            return refuseValue("function");
        options.start.readFunction = std::uint8_t(*code);
    }
    if (given.has("meter-type")) {
        const QStringList names = valueOf("meter-type").split(u',');
        if (names.size() > slotCount)
            return refuseValue("meter-type");
        for (int slot = 0; slot < slotCount; ++slot) {
            // One name is every slot's.
            const QString name = names.size() == 1 ? names.first() : names.value(slot);
            if (name.isEmpty() || name == u"default")
                continue;
            const auto type = findMeterType(name);
            if (const auto *why = std::get_if<QString>(&type)) {
                return given.refuse(
                    QStringLiteral("%1: %2").arg(given.named("meter-type"), *why), "meter-type");
            }
            options.start.meterTypes[slot] = std::get<MeterType>(type);
        }
    }
    if (given.has("reply-timeout")) {
        const auto limit = wholeNumberIn(valueOf("reply-timeout"), 10, 10'000);
        if (!limit)
            return refuseValue("reply-timeout");
        options.start.replyLimit = std::chrono::milliseconds(*limit);
    }
    options.start.manual = given.has("manual");
    options.headless = given.has("headless");
    if (given.has("readings")) {
        if (options.headless) {
            return given.refuse(
                QStringLiteral("%1 needs a window: not with %2")
                    .arg(given.named("readings"), given.named("headless", "readings")),
                "readings");
        }
        static const std::map<QString, Span> spanNamed {{QStringLiteral("10m"), Span::TenMinutes},
            {QStringLiteral("1h"), Span::OneHour}, {QStringLiteral("24h"), Span::OneDay}};
        const auto span = spanNamed.find(valueOf("readings"));
        if (span == spanNamed.end())
            return refuseValue("readings");
        options.readings = span->second;
    }
    options.trace = given.has("trace");
    for (const char *needsHistory : {"history-every", "history-days"}) {
        if (given.has(needsHistory) && !given.has("history")) {
            return given.refuse(
                QStringLiteral("%1 needs %2")
                    .arg(given.named(needsHistory), given.named("history", needsHistory)),
                needsHistory);
        }
    }
    if (given.has("history-every")) {
        const auto seconds = wholeNumberIn(valueOf("history-every"), 1, 86'400);
        if (!seconds)
            return refuseValue("history-every");
        options.historyEvery = std::chrono::seconds(*seconds);
    }
    if (given.has("history-days")) {
        options.historyDays = wholeNumberIn(valueOf("history-days"), 1, 36'500);
        if (!options.historyDays)
            return refuseValue("history-days");
    }
    if (given.has("mqtt")) {
        options.mqtt = parseMqttUrl(valueOf("mqtt"));
        if (!options.mqtt)
            return refuseValue("mqtt");
    }
    if (given.has("mqtt-ca")) {
        if (!options.mqtt || !options.mqtt->tls || !QFileInfo(valueOf("mqtt-ca")).isFile()
            || !holdsCertificate(valueOf("mqtt-ca")))
            return refuseValue("mqtt-ca");
        options.mqtt->caFile = valueOf("mqtt-ca");
    }
    if (given.has("mqtt-password-file")) {
        const auto refusePasswordFile = [&](const QString &why) {
            return given.refuse(QStringLiteral("%1 %2").arg(given.named("mqtt-password-file"), why),
                "mqtt-password-file");
        };
        if (!options.mqtt)
            return refusePasswordFile(
                QStringLiteral("needs %1").arg(given.named("mqtt", "mqtt-password-file")));
        if (options.mqtt->user.isEmpty()) {
            return refusePasswordFile(QStringLiteral("needs a user in the %1 URL")
                                          .arg(given.named("mqtt", "mqtt-password-file")));
        }
        if (!options.mqtt->password.isEmpty()) {
            return refusePasswordFile(QStringLiteral("or a password in the %1 URL: one or the "
                                                     "other")
                                          .arg(given.named("mqtt", "mqtt-password-file")));
        }
        const auto password = passwordIn(valueOf("mqtt-password-file"));
        if (!password)
            return refuseValue("mqtt-password-file");
        options.mqtt->password = *password;
    }
    if (given.has("mqtt-discovery")) {
        static const QRegularExpression topicPrefix(QStringLiteral("^[^+#/]+(/[^+#/]+)*$"));
        if (!options.mqtt || !topicPrefix.match(valueOf("mqtt-discovery")).hasMatch())
            return refuseValue("mqtt-discovery");
        options.mqttDiscovery = valueOf("mqtt-discovery");
    }
    if (given.has("metrics")) {
        options.metrics = parseMetricsAddress(valueOf("metrics"));
        if (!options.metrics)
            return refuseValue("metrics");
    }
    // The folders are tried last, as the only checks that touch anything.
    for (const auto &[name, chosen] :
        {std::pair {"folder", &options.folder}, std::pair {"history", &options.historyFolder}}) {
        if (!given.has(name))
            continue;
        if (!isWritableFolder(valueOf(name)))
            return refuseValue(name);
        *chosen = QFileInfo(valueOf(name)).absoluteFilePath();
    }
    return options;
}

} // namespace

std::variant<ProgramOptions, EarlyExit> parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "meterlog polls electrical meters on a Modbus RTU serial line (five in the window's "
        "slots, more from a line file) and keeps the slots' latest readings in the snapshot file "
        "datamirab.txt."));
    // Qt's own help option would also offer --help-all, for Qt's options, which meterlog takes
    // none of.
    const QCommandLineOption helpOption(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption versionOption(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version."));
    const QCommandLineOption meterTypesOption(
        QStringLiteral("meter-types"), QStringLiteral("List the built-in meter types."));
    parser.addOptions({helpOption, versionOption, meterTypesOption});
    for (const auto &option : optionTable) {
        parser.addOption(option.valueName ? QCommandLineOption(QLatin1String(option.name),
                             QLatin1String(option.description), QLatin1String(option.valueName))
                                          : QCommandLineOption(QLatin1String(option.name),
                                              QLatin1String(option.description)));
    }

    const GivenOptions commandLine;
    // --mqtt-discovery and --readings may come without their values: meterlog takes no
    // arguments but options, so what follows one is its value unless it is an option too.
    QStringList written = arguments;
    for (qsizetype i = 1; i < written.size(); ++i) {
        const bool valueLeftOut = i + 1 == written.size() || written[i + 1].startsWith(u'-');
        if (written[i] == u"--mqtt-discovery" && valueLeftOut)
            written[i] = QStringLiteral("--mqtt-discovery=homeassistant");
        if (written[i] == u"--readings" && valueLeftOut)
            written[i] = QStringLiteral("--readings=10m");
        if (written[i] == u"--metrics" && valueLeftOut)
            written[i] = QStringLiteral("--metrics=%1").arg(defaultMetricsPort);
    }
    if (!parser.parse(written)) {
        // Qt says "Unknown option 'x'."; the line goes on after it.
        QString why = parser.errorText();
        why[0] = why[0].toLower();
        if (why.endsWith(u'.'))
            why.chop(1);
        return commandLine.refuse(why);
    }
    if (parser.isSet(helpOption)) {
        // Without an application object Qt cannot know the program's name.
        return EarlyExit {
            0, parser.helpText().replace(QStringLiteral("<executable_name>"), "meterlog")};
    }
    if (parser.isSet(meterTypesOption))
        return EarlyExit {0, meterTypesListing()};
    if (parser.isSet(versionOption))
        return EarlyExit {0, QStringLiteral("meterlog %1\n").arg(METERLOG_VERSION)};
    if (!parser.positionalArguments().isEmpty()) {
        return commandLine.refuse(
            QStringLiteral("unexpected argument \"%1\"; every setting is an option")
                .arg(parser.positionalArguments().first()));
    }

    // The line file's keys first, then the command line's over them.
    const QString path = parser.value(QStringLiteral("config"));
    GivenOptions given(path);
    LineFile file;
    if (parser.isSet(QStringLiteral("config"))) {
        auto read = readLineFile(path, lineFileKeys());
        if (const auto *why = std::get_if<QString>(&read))
            return EarlyExit {badCommandLineExitCode, *why};
        file = std::move(std::get<LineFile>(read));
        for (const auto &option : optionTable) {
            const auto found = file.values.find(keyOf(option));
            if (found != file.values.end())
                given.set(option.name, {found->second.text, found->second.line});
        }
    }
    for (const auto &option : optionTable) {
        if (parser.isSet(QLatin1String(option.name)))
            given.set(option.name, {parser.value(QLatin1String(option.name))});
    }
    ProgramOptions options;
    if (parser.isSet(QStringLiteral("config")) && given.has("scan"))
        return given.refuse(
            QStringLiteral("--scan takes its line from --port and --line, not --config"));
    if (parser.isSet(QStringLiteral("config"))) {
        options.lineFile = QFileInfo(path).absoluteFilePath();
        if (const auto refused = takeMeters(file, path, given, options))
            return *refused;
    }
    auto settled = settle(given, std::move(options));
    if (const auto *ready = std::get_if<ProgramOptions>(&settled); ready && given.has("check"))
        return EarlyExit {0, checkReport(*ready)};
    return settled;
}

} // namespace meterlog

#include "app/commandline.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <map>
#include <set>

#include "app/programfolder.h"
#include "meters/meters.h"
#include "meters/metertypefile.h"
#include "net/networkaddress.h"
#include "publish/brokertls.h"
#include "serial/linesettings.h"

namespace meterlog {

namespace {

struct ValueOption
{
    QCommandLineOption option;
    QString form; // what the value must be, for the line that refuses it
};

ValueOption valueOption(
    const char *name, const char *valueName, const char *description, const char *form)
{
    return {QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                QString::fromLatin1(valueName)),
        QString::fromLatin1(form)};
}

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

// Modbus gives a meter an address from 1 to 247; 0 is the broadcast no meter answers.
constexpr int lowestMeterAddress = 1;
constexpr int highestMeterAddress = 247;
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

} // namespace

std::variant<ProgramOptions, EarlyExit> parseCommandLine(const QStringList &arguments)
{
    const auto port = valueOption("port", "P",
        "The port box's text at start-up instead of 9: a port number, a device path such as "
        "/dev/ttyUSB0 or /dev/serial/by-id/..., tcp://HOST[:PORT] for a Modbus TCP gateway or "
        "meter (port 502 unless given), or rtu+tcp://HOST:PORT for RTU frames over TCP (a "
        "transparent gateway).",
        "a port number 1 to 32767, a device path starting with /, tcp://HOST[:PORT] or "
        "rtu+tcp://HOST:PORT");
    const auto line = valueOption("line", "SETTINGS",
        "The line settings instead of 38400,n,8,1: baud, parity n/e/o, data bits 7/8, stop "
        "bits 1/2.",
        "BAUD,PARITY,DATA,STOP such as 9600,e,8,1 (baud 50 to 4000000, parity n, e or o, data "
        "bits 7 or 8, stop bits 1 or 2)");
    const auto addresses = valueOption("addresses", "LIST",
        "Device addresses for slots 1 to 5 in order, comma-separated; slots without one start "
        "unticked and empty.",
        "one to five different device addresses 1 to 247, comma-separated, such as 11,12,13");
    const auto start = valueOption(
        "start", "N", "The start address instead of 4011.", "a start address 0 to 65535");
    const auto count = valueOption(
        "count", "N", "The number of registers instead of 12.", "a register count 1 to 125");
    const auto folder = valueOption("folder", "DIR",
        "The folder for the snapshot file and the comN links instead of the program's folder.",
        "an existing folder in which meterlog can write");
    const auto function = valueOption("function", "F",
        "The function code the window's registers are read with instead of 3 (holding "
        "registers): 4 reads input registers.",
        "3 or 4");
    const auto meterType = valueOption("meter-type", "T",
        "The meter type of every ticked slot, or T1,T2,... one a slot (empty: the default): a "
        "built-in type (see --meter-types) or a type file.",
        "a meter type, or one a slot separated by commas");
    const auto replyTimeout = valueOption("reply-timeout", "MS",
        "The longest a meter may take to answer, in milliseconds (default 500).",
        "milliseconds 10 to 10000");
    const auto history = valueOption("history", "DIR",
        "Keep a history: one CSV file a day in DIR, a row every --history-every seconds.",
        "an existing folder in which meterlog can write");
    const auto historyEvery = valueOption("history-every", "S",
        "Seconds between two rows of the history (default 10).", "seconds 1 to 86400");
    const auto historyDays = valueOption("history-days", "N",
        "Remove history files older than N days (default: keep them all).",
        "a number of days 1 to 36500");
    const auto mqtt = valueOption("mqtt", "URL",
        "Publish the readings to an MQTT broker: mqtt://[user[:password]@]host[:port]/prefix, "
        "or mqtts:// for TLS.",
        "mqtt://[user[:password]@]host[:port]/prefix or mqtts://..., port 1 to 65535, the "
        "prefix without + or #");
    const auto mqttCa = valueOption("mqtt-ca", "FILE",
        "With an mqtts:// URL: the certificate authorities to check the broker by (default: the "
        "system's).",
        "a PEM file with at least one certificate, with an mqtts:// URL");
    const auto mqttPasswordFile = valueOption("mqtt-password-file", "FILE",
        "The password for the --mqtt URL's user: the first line of FILE (keep it mode 600), so "
        "that it is neither in the URL nor in the process list.",
        "a readable file whose first line is the password");
    const auto mqttDiscovery = valueOption("mqtt-discovery", "PREFIX",
        "Publish Home Assistant discovery configs for the typed meters' fields below PREFIX "
        "(homeassistant when PREFIX is left out).",
        "a topic prefix without + or #, with --mqtt");
    const auto readings = valueOption("readings", "SPAN",
        "Open the readings window (a table and a trend chart) at start-up, its chart over SPAN: "
        "10m, 1h or 24h (10m when left out). Ctrl+R and the window's context menu open it too.",
        "10m, 1h or 24h");
    const QCommandLineOption manual(
        QStringLiteral("manual"), QStringLiteral("Start in Manual mode."));
    const QCommandLineOption headless(QStringLiteral("headless"),
        QStringLiteral("Show no window (for a service); polling and the snapshot file go on."));
    const QCommandLineOption trace(QStringLiteral("trace"),
        QStringLiteral("Log every request and reply in hex with its verdict."));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "meterlog polls up to five electrical meters on a Modbus RTU serial line and keeps "
        "their latest readings in the snapshot file datamirab.txt."));
    // Qt's own help option would also offer --help-all, for Qt's options, which meterlog takes
    // none of.
    const QCommandLineOption helpOption(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption versionOption(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version."));
    const QCommandLineOption meterTypesOption(
        QStringLiteral("meter-types"), QStringLiteral("List the built-in meter types."));
    parser.addOptions({helpOption, versionOption, meterTypesOption});
    for (const auto *each : {&port, &line, &addresses, &start, &count, &folder, &function,
             &meterType, &replyTimeout, &history, &historyEvery, &historyDays, &mqtt, &mqttCa,
             &mqttPasswordFile, &mqttDiscovery, &readings})
        parser.addOption(each->option);
    parser.addOptions({manual, headless, trace});

    const QString program = QStringLiteral("meterlog");
    const auto refuse = [&](const QString &why) {
        return EarlyExit {
            badCommandLineExitCode, QStringLiteral("%1: %2 (see %1 --help)").arg(program, why)};
    };
    // --mqtt-discovery and --readings may come without their values: meterlog takes no
    // arguments but options, so what follows one is its value unless it is an option too.
    QStringList given = arguments;
    for (qsizetype i = 1; i < given.size(); ++i) {
        const bool valueLeftOut = i + 1 == given.size() || given[i + 1].startsWith(u'-');
        if (given[i] == u"--mqtt-discovery" && valueLeftOut)
            given[i] = QStringLiteral("--mqtt-discovery=homeassistant");
        if (given[i] == u"--readings" && valueLeftOut)
            given[i] = QStringLiteral("--readings=10m");
    }
    if (!parser.parse(given)) {
        // Qt says "Unknown option 'x'."; the line goes on after it.
        QString why = parser.errorText();
        why[0] = why[0].toLower();
        if (why.endsWith(u'.'))
            why.chop(1);
        return refuse(why);
    }
    if (parser.isSet(helpOption)) {
        // Without an application object Qt cannot know the program's name.
        return EarlyExit {
            0, parser.helpText().replace(QStringLiteral("<executable_name>"), program)};
    }
    if (parser.isSet(meterTypesOption)) {
        return EarlyExit {0, meterTypesListing()};
    }
    if (parser.isSet(versionOption))
        return EarlyExit {
            0, QStringLiteral("%1 %2\n").arg(program, QStringLiteral(METERLOG_VERSION))};
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(QStringLiteral("unexpected argument \"%1\"; every setting is an option")
                          .arg(parser.positionalArguments().first()));
    }

    // The first bad value is the one reported.
    const auto valueOf = [&](const ValueOption &each) { return parser.value(each.option); };
    const auto refuseValue = [&](const ValueOption &each) {
        return refuse(QStringLiteral("--%1 takes %2, not \"%3\"")
                          .arg(each.option.names().first(), each.form, valueOf(each)));
    };

    ProgramOptions options;
    if (parser.isSet(port.option)) {
        if (!isPortText(valueOf(port)))
            return refuseValue(port);
        options.start.port = valueOf(port);
    }
    if (parser.isSet(line.option)) {
        if (!isLineSettings(valueOf(line)))
            return refuseValue(line);
        options.start.lineSettings = valueOf(line).toLower();
    }
    if (parser.isSet(addresses.option)) {
        const auto list = addressList(valueOf(addresses));
        if (!list)
            return refuseValue(addresses);
        options.start.addresses = *list;
    }
    if (parser.isSet(start.option)) {
        if (!wholeNumberIn(valueOf(start), 0, 65535))
            return refuseValue(start);
        options.start.startAddress = valueOf(start);
    }
    if (parser.isSet(count.option)) {
        if (!wholeNumberIn(valueOf(count), 1, mostRegisters))
            return refuseValue(count);
        options.start.registerCount = valueOf(count);
    }
    // Registers end at 65535: a block that runs past it can never be read.
    const int first
        = options.start.startAddress ? options.start.startAddress->toInt() : createdStartAddress;
    const int length
        = options.start.registerCount ? options.start.registerCount->toInt() : createdRegisterCount;
    if (first + length > 65536) {
        return refuse(QStringLiteral("registers %1 to %2 run past the last register, 65535; "
                                     "choose --start and --count so that start + count <= 65536")
                          .arg(first)
                          .arg(first + length - 1));
    }
    if (parser.isSet(function.option)) {
        const auto code = wholeNumberIn(valueOf(function), 3, 4);
        if (!code)
            return refuseValue(function);
        options.start.readFunction = std::uint8_t(*code);
    }
    if (parser.isSet(meterType.option)) {
        const QStringList names = valueOf(meterType).split(u',');
        if (names.size() > slotCount)
            return refuseValue(meterType);
        for (int slot = 0; slot < slotCount; ++slot) {
            // One name is every slot's.
            const QString name = names.size() == 1 ? names.first() : names.value(slot);
            if (name.isEmpty() || name == u"default")
                continue;
            const auto type = findMeterType(name);
            if (const auto *why = std::get_if<QString>(&type))
                return refuse(QStringLiteral("--meter-type: %1").arg(*why));
            options.start.meterTypes[slot] = std::get<MeterType>(type);
        }
    }
    if (parser.isSet(replyTimeout.option)) {
        const auto limit = wholeNumberIn(valueOf(replyTimeout), 10, 10'000);
        if (!limit)
            return refuseValue(replyTimeout);
        options.start.replyLimit = std::chrono::milliseconds(*limit);
    }
    options.start.manual = parser.isSet(manual);
    options.headless = parser.isSet(headless);
    if (parser.isSet(readings.option)) {
        if (options.headless)
            return refuse(QStringLiteral("--readings needs a window: not with --headless"));
        static const std::map<QString, Span> spanNamed {{QStringLiteral("10m"), Span::TenMinutes},
            {QStringLiteral("1h"), Span::OneHour}, {QStringLiteral("24h"), Span::OneDay}};
        const auto span = spanNamed.find(valueOf(readings));
        if (span == spanNamed.end())
            return refuseValue(readings);
        options.readings = span->second;
    }
    options.trace = parser.isSet(trace);
    for (const auto *needsHistory : {&historyEvery, &historyDays}) {
        if (parser.isSet(needsHistory->option) && !parser.isSet(history.option)) {
            return refuse(
                QStringLiteral("--%1 needs --history").arg(needsHistory->option.names().first()));
        }
    }
    if (parser.isSet(historyEvery.option)) {
        const auto seconds = wholeNumberIn(valueOf(historyEvery), 1, 86'400);
        if (!seconds)
            return refuseValue(historyEvery);
        options.historyEvery = std::chrono::seconds(*seconds);
    }
    if (parser.isSet(historyDays.option)) {
        options.historyDays = wholeNumberIn(valueOf(historyDays), 1, 36'500);
        if (!options.historyDays)
            return refuseValue(historyDays);
    }
    if (parser.isSet(mqtt.option)) {
        options.mqtt = parseMqttUrl(valueOf(mqtt));
        if (!options.mqtt)
            return refuseValue(mqtt);
    }
    if (parser.isSet(mqttCa.option)) {
        if (!options.mqtt || !options.mqtt->tls || !QFileInfo(valueOf(mqttCa)).isFile()
            || !holdsCertificate(valueOf(mqttCa)))
            return refuseValue(mqttCa);
        options.mqtt->caFile = valueOf(mqttCa);
    }
    if (parser.isSet(mqttPasswordFile.option)) {
        if (!options.mqtt)
            return refuse(QStringLiteral("--mqtt-password-file needs --mqtt"));
        if (options.mqtt->user.isEmpty())
            return refuse(QStringLiteral("--mqtt-password-file needs a user in the --mqtt URL"));
        if (!options.mqtt->password.isEmpty()) {
            return refuse(QStringLiteral("--mqtt-password-file or a password in the --mqtt URL: "
                                         "one or the other"));
        }
        const auto password = passwordIn(valueOf(mqttPasswordFile));
        if (!password)
            return refuseValue(mqttPasswordFile);
        options.mqtt->password = *password;
    }
    if (parser.isSet(mqttDiscovery.option)) {
        static const QRegularExpression topicPrefix(QStringLiteral("^[^+#/]+(/[^+#/]+)*$"));
        if (!options.mqtt || !topicPrefix.match(valueOf(mqttDiscovery)).hasMatch())
            return refuseValue(mqttDiscovery);
        options.mqttDiscovery = valueOf(mqttDiscovery);
    }
    // The folders are tried last, as the only checks that touch anything.
    for (const auto &[each, chosen] :
        {std::pair {&folder, &options.folder}, std::pair {&history, &options.historyFolder}}) {
        if (!parser.isSet(each->option))
            continue;
        if (!isWritableFolder(valueOf(*each)))
            return refuseValue(*each);
        *chosen = QFileInfo(valueOf(*each)).absoluteFilePath();
    }
    return options;
}

} // namespace meterlog

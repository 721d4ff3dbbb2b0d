#include "sim/simoptions.h"

#include "sim/devicelink.h"
#include "sim/simulatedtypes.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <getopt.h>
#include <set>
#include <string_view>

namespace {

enum OptionId : int {
    linkOption = 1000,
    staticOption,
    turnaroundOption,
    noPacingOption,
    faultOption,
    cablePullOption,
    seedOption,
    typeOption,
    metersOption,
    logOption,
    tcpOption,
    rtuOverTcpOption,
    listenOption,
    gatewayTimeoutOption,
    gatewaySilentOption,
    helpOption,
};

constexpr double longestTurnaroundMs = 10'000.0;
constexpr int longestGatewayTimeoutMs = 10'000;
constexpr int highestPort = 65'535;

template<typename Number>
std::optional<Number> wholeNumber(std::string_view text)
{
    Number value {};
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> nonNegativeNumber(std::string_view text)
{
    const auto value = wholeNumber<double>(text);
    if (!value || *value < 0.0)
        return std::nullopt;
    return value;
}

// Splits "LEFT:RIGHT"; both halves must be there.
std::optional<std::pair<std::string_view, std::string_view>> splitPair(std::string_view text)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size())
        return std::nullopt;
    return std::pair {text.substr(0, colon), text.substr(colon + 1)};
}

// "ADDR" or "FIRST-LAST", meter addresses both.
std::optional<std::pair<int, int>> addressRange(std::string_view text)
{
    const auto dash = text.find('-');
    const auto first = wholeNumber<int>(text.substr(0, dash));
    const auto last
        = dash == std::string_view::npos ? first : wholeNumber<int>(text.substr(dash + 1));
    if (!first || !last || !meterModel::isMeterAddress(*first) || !meterModel::isMeterAddress(*last)
        || *first > *last)
        return std::nullopt;
    return std::pair {*first, *last};
}

std::optional<MeterFault> parseFault(std::string_view text)
{
    const auto parts = splitPair(text);
    if (!parts)
        return std::nullopt;
    const auto address = wholeNumber<int>(parts->first);
    const auto kind = parseFaultKind(parts->second);
    if (!address || !meterModel::isMeterAddress(*address) || !kind)
        return std::nullopt;
    return MeterFault {*address, *kind};
}

std::optional<CablePull> parseCablePull(std::string_view text)
{
    const auto parts = splitPair(text);
    if (!parts)
        return std::nullopt;
    const auto after = nonNegativeNumber(parts->first);
    const auto lasting = nonNegativeNumber(parts->second);
    if (!after || !lasting)
        return std::nullopt;
    return CablePull {
        std::chrono::duration<double>(*after), std::chrono::duration<double>(*lasting)};
}

std::string applyNetworkLink(SimOptions &options, LinkKind link, std::string_view value)
{
    const auto port = wholeNumber<int>(value);
    if (!port || *port < 0 || *port > highestPort)
        return "--tcp and --rtu-tcp need a port from 0 (any free one) to 65535";
    if (options.link != LinkKind::PseudoTerminal && options.link != link)
        return "--tcp and --rtu-tcp exclude each other";
    options.link = link;
    options.port = static_cast<std::uint16_t>(*port);
    return {};
}

// Applies one option; returns an error text, empty when the option was fine.
std::string applyOption(SimOptions &options, int id, std::string_view value)
{
    switch (id) {
    case tcpOption:
        return applyNetworkLink(options, LinkKind::ModbusTcp, value);
    case rtuOverTcpOption:
        return applyNetworkLink(options, LinkKind::RtuOverTcp, value);
    case listenOption:
        if (::inet_pton(AF_INET, std::string(value).c_str(), &options.listenAddress) != 1)
            return "--listen needs an IPv4 address such as 127.0.0.1";
        return {};
    case gatewayTimeoutOption: {
        const auto milliseconds = wholeNumber<int>(value);
        if (!milliseconds || *milliseconds < 1 || *milliseconds > longestGatewayTimeoutMs)
            return "--gateway-timeout-ms needs a whole number of milliseconds from 1 to 10000";
        options.gatewayTimeout = std::chrono::milliseconds(*milliseconds);
        return {};
    }
    case gatewaySilentOption:
        options.gatewayAnswersTargetFailures = false;
        return {};
    case linkOption:
        options.linkPath = value;
        return {};
    case staticOption:
        options.frozenTime = true;
        return {};
    case noPacingOption:
        options.paced = false;
        return {};
    case logOption:
        options.log = true;
        return {};
    case turnaroundOption: {
        const auto milliseconds = nonNegativeNumber(value);
        if (!milliseconds || *milliseconds > longestTurnaroundMs)
            return "--turnaround-ms needs a number of milliseconds from 0 to 10000";
        options.turnaround = std::chrono::duration<double, std::milli>(*milliseconds);
        return {};
    }
    case faultOption: {
        const auto fault = parseFault(value);
        if (!fault)
            return "--fault needs ADDR:KIND with ADDR 1 to 247 and KIND one of silent, slow, "
                   "bad-crc, truncated, wrong-address, exception, noise, drop";
        options.faults.push_back(*fault);
        return {};
    }
    case cablePullOption: {
        const auto pull = parseCablePull(value);
        if (!pull)
            return "--cable-pull needs AFTER_S:FOR_S, two numbers of seconds";
        options.cablePulls.push_back(*pull);
        return {};
    }
    case metersOption: {
        const auto count = wholeNumber<int>(value);
        if (!count || !meterModel::isMeterAddress(*count))
            return "--meters needs a number of meters from 1 to 247";
        options.meterCount = *count;
        return {};
    }
    case typeOption: {
        // NAME for every meter (address 0 stands for them all), or ADDR:NAME or FIRST-LAST:NAME.
        const char *wrong = "--type needs a built-in meter type (meterlog --meter-types), or "
                            "ADDR:TYPE or FIRST-LAST:TYPE with addresses 1 to 247";
        std::pair<int, int> addresses {0, 0};
        std::string name(value);
        if (const auto parts = splitPair(value)) {
            const auto range = addressRange(parts->first);
            if (!range)
                return wrong;
            addresses = *range;
            name = std::string(parts->second);
        }
        if (!isSimulatedType(name))
            return wrong;
        for (int address = addresses.first; address <= addresses.second; ++address)
            options.meterTypes[address] = name;
        return {};
    }
    case seedOption: {
        const auto seed = wholeNumber<std::uint32_t>(value);
        if (!seed)
            return "--seed needs a whole number from 0 to 4294967295";
        options.seed = *seed;
        return {};
    }
    default:
        return "unknown option";
    }
}

// Options that only mean something for some links; returns an error text, empty when all fit.
std::string checkCombination(const SimOptions &options, const std::set<int> &given)
{
    const bool network = options.link != LinkKind::PseudoTerminal;
    if (network && given.contains(linkOption))
        return "--link is for the pseudo-terminal; --tcp and --rtu-tcp make no link";
    if (!network && given.contains(listenOption))
        return "--listen needs --tcp or --rtu-tcp";
    if (options.link != LinkKind::ModbusTcp
        && (given.contains(gatewayTimeoutOption) || given.contains(gatewaySilentOption)))
        return "--gateway-timeout-ms and --gateway-silent need --tcp: only a Modbus TCP gateway "
               "answers for its meters";
    const auto beyondLine = [&](int address) { return address > options.meterCount; };
    if (std::any_of(options.faults.begin(), options.faults.end(),
            [&](const MeterFault &fault) { return beyondLine(fault.meterAddress); })
        || (!options.meterTypes.empty() && beyondLine(options.meterTypes.rbegin()->first)))
        return "--fault and --type name meters on the line: addresses 1 to --meters (default 5)";
    const bool drops = std::any_of(options.faults.begin(), options.faults.end(),
        [](const MeterFault &fault) { return fault.kind == FaultKind::Drop; });
    if (!network && drops)
        return "the drop fault needs --tcp or --rtu-tcp: a pseudo-terminal has no connection to "
               "drop";
    return {};
}

} // namespace

ParsedOptions parseOptions(int argc, char **argv)
{
    static const option longOptions[] = {
        {"link", required_argument, nullptr, linkOption},
        {"static", no_argument, nullptr, staticOption},
        {"turnaround-ms", required_argument, nullptr, turnaroundOption},
        {"no-pacing", no_argument, nullptr, noPacingOption},
        {"fault", required_argument, nullptr, faultOption},
        {"cable-pull", required_argument, nullptr, cablePullOption},
        {"seed", required_argument, nullptr, seedOption},
        {"type", required_argument, nullptr, typeOption},
        {"meters", required_argument, nullptr, metersOption},
        {"log", no_argument, nullptr, logOption},
        {"tcp", required_argument, nullptr, tcpOption},
        {"rtu-tcp", required_argument, nullptr, rtuOverTcpOption},
        {"listen", required_argument, nullptr, listenOption},
        {"gateway-timeout-ms", required_argument, nullptr, gatewayTimeoutOption},
        {"gateway-silent", no_argument, nullptr, gatewaySilentOption},
        {"help", no_argument, nullptr, helpOption},
        {nullptr, 0, nullptr, 0},
    };
    ParsedOptions parsed;
    SimOptions options;
    std::set<int> given;
    opterr = 0;
    optind = 1;
    int id = 0;
    while ((id = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        if (id == helpOption) {
            parsed.helpWanted = true;
            return parsed;
        }
        if (id == '?' || id == ':') {
            parsed.error = std::string("unknown option or missing value: ") + argv[optind - 1];
            return parsed;
        }
        parsed.error = applyOption(options, id, optarg ? optarg : "");
        if (!parsed.error.empty())
            return parsed;
        given.insert(id);
    }
    if (optind < argc) {
        parsed.error = std::string("unexpected argument: ") + argv[optind];
        return parsed;
    }
    parsed.error = checkCombination(options, given);
    if (!parsed.error.empty())
        return parsed;
    if (options.linkPath.empty())
        options.linkPath = defaultLinkPath();
    std::sort(options.cablePulls.begin(), options.cablePulls.end(),
        [](const CablePull &a, const CablePull &b) { return a.after < b.after; });
    parsed.options = std::move(options);
    return parsed;
}

const char *usageText()
{
    // In the layout help2man reads for the manual page: usage, description, options.
    return "Usage: meter-sim [options]\n"
           "Simulated electrical meters (Modbus RTU addresses 1 to 5, or 1 to N) on a\n"
           "pseudo-terminal, or behind a simulated network gateway.\n"
           "\n"
           "Options:\n"
           "  --link PATH             link to the slave device (default: com9 beside meter-sim)\n"
           "  --tcp PORT              a Modbus TCP gateway on 127.0.0.1:PORT instead (0: any "
           "port)\n"
           "  --rtu-tcp PORT          a transparent gateway: RTU frames over TCP on PORT\n"
           "  --listen ADDR           the gateway's IPv4 address (default 127.0.0.1)\n"
           "  --gateway-timeout-ms X  --tcp: exception 0B after X ms without a usable reply\n"
           "                          (default 300)\n"
           "  --gateway-silent        --tcp: nothing instead of exception 0B\n"
           "  --static                freeze time at 0, so every value is the documented one\n"
           "  --turnaround-ms X       pause between request and reply (default 3)\n"
           "  --no-pacing             answer at once, whole frame in one write\n"
           "  --meters N              meters at addresses 1 to N (1 to 247, default 5)\n"
           "  --fault ADDR:KIND       make a meter misbehave; KIND: silent, slow, bad-crc,\n"
           "                          truncated, wrong-address, exception, noise, drop\n"
           "                          (repeatable)\n"
           "  --cable-pull AFTER:FOR  close the line or the gateway AFTER s after start for FOR s\n"
           "                          (repeatable)\n"
           "  --seed N                seed for the noise fault (default 1)\n"
           "  --type TYPE             meters of a built-in meter type (meterlog --meter-types)\n"
           "                          instead of the documented ones; ADDR:TYPE for one meter,\n"
           "                          FIRST-LAST:TYPE for several (repeatable)\n"
           "  --log                   one line per request on stderr\n"
           "  --help                  this text\n";
}

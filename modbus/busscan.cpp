#include "modbus/busscan.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <set>

#include "meters/linemeter.h"
#include "meters/metertypefile.h"
#include "modbus/exchange.h"
#include "modbus/scancycle.h"

namespace meterlog {

namespace {

// Eastron's meter code, one holding register at FC02h. An Eastron meter may answer any
// one-register read with that code, so another maker's one-register identification asked of it
// could read as that maker's code: Eastron's is asked first, and every hit must be confirmed.
constexpr ReadBlock eastronMeterCode {3, 0xFC02, 1};
// Asked where no type says how its meters are recognised: any device answers it somehow.
constexpr ReadBlock anyRegister {3, 0, 1};

// Every identification read of the types, each once, Eastron's first.
QList<ReadBlock> probesOf(const QList<MeterType> &types)
{
    QList<ReadBlock> probes;
    for (const auto &type : types) {
        if (type.identification && !probes.contains(type.identification->probe))
            probes << type.identification->probe;
    }
    std::stable_partition(probes.begin(), probes.end(),
        [](const ReadBlock &probe) { return probe == eastronMeterCode; });
    if (probes.isEmpty())
        probes << anyRegister;
    return probes;
}

QString hex(std::uint64_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper() + u'h';
}

QString registerText(const ReadBlock &block)
{
    return QStringLiteral("%1 (function %2%3)")
        .arg(hex(block.start, 4))
        .arg(block.function)
        .arg(block.count > 1 ? QStringLiteral(", %1 registers").arg(block.count) : QString());
}

// The words as one whole number, the first word highest.
std::uint64_t codeOf(const QList<std::uint16_t> &words)
{
    std::uint64_t code = 0;
    for (const auto word : words)
        code = code << 16 | word;
    return code;
}

QString answerText(const ExchangeResult &result)
{
    switch (result.outcome) {
    case SlotOutcome::Verified:
        return hex(codeOf(result.words), 4 * int(result.words.size()));
    case SlotOutcome::Exception:
        return QStringLiteral("exception %1").arg(result.exceptionCode, 2, 16, QLatin1Char('0'));
    case SlotOutcome::TimedOut:
        return result.silent ? QStringLiteral("no answer") : QStringLiteral("an answer cut short");
    default:
        return QStringLiteral("an answer that did not check out");
    }
}

bool answered(const ExchangeResult &result)
{
    return result.outcome == SlotOutcome::Verified || result.outcome == SlotOutcome::Exception;
}

bool garbled(const ExchangeResult &result)
{
    return !answered(result) && !(result.outcome == SlotOutcome::TimedOut && result.silent);
}

// Why the scan cannot go on, or nothing.
std::optional<QString> linkFailureOf(const ExchangeResult &result)
{
    switch (result.outcome) {
    case SlotOutcome::SendFailed:
        return QStringLiteral("a request could not be sent");
    case SlotOutcome::PortLost:
        return QStringLiteral("the link closed");
    default:
        return std::nullopt;
    }
}

class Scan
{
public:
    Scan(Link &link, Framing &framing, const BusScanPlan &plan, const Cancellation &cancel)
        : m_link(link)
        , m_framing(framing)
        , m_plan(plan)
        , m_cancel(cancel)
        , m_probes(probesOf(plan.types))
    { }

    BusScanReport run(const BusScanListener &listener)
    {
        QElapsedTimer clock;
        clock.start();
        BusScanProgress progress {0, int(m_plan.addresses.size()), 0};
        for (const int address : m_plan.addresses) {
            const auto device = visit(address);
            if (m_report.cancelled || !m_report.linkFailure.isEmpty())
                break;
            ++m_report.asked;
            progress.asked = m_report.asked;
            if (device) {
                m_report.found << *device;
                progress.found = int(m_report.found.size());
            }
            if (listener)
                listener(progress, device ? &m_report.found.last() : nullptr);
        }
        m_report.took = std::chrono::milliseconds(clock.elapsed());
        return m_report;
    }

private:
    // Nothing when the scan must stop (see the report).
    std::optional<ExchangeResult> ask(
        int address, const ReadBlock &block, std::chrono::milliseconds limit)
    {
        const ReadRequest request {
            std::uint8_t(address), block.start, std::uint8_t(block.count), block.function};
        ++m_report.requests;
        auto result = exchange(
            m_link, m_framing, request, limit, m_cancel, QStringLiteral("address %1").arg(address));
        if (result.outcome == SlotOutcome::Cancelled) {
            m_report.cancelled = true;
            return std::nullopt;
        }
        if (const auto failure = linkFailureOf(result)) {
            m_report.linkFailure = *failure;
            return std::nullopt;
        }
        return result;
    }

    std::optional<FoundDevice> visit(int address)
    {
        auto first = ask(address, m_probes.first(), m_plan.replyLimit);
        if (first && garbled(*first))
            first = ask(address, m_probes.first(), m_plan.patientLimit);
        if (!first || !answered(*first))
            return std::nullopt;
        FoundDevice device {address, {}, {}};
        QList<QString> candidates;
        for (int i = 0; i < m_probes.size(); ++i) {
            const auto &probe = m_probes[i];
            const auto result = i == 0 ? first : ask(address, probe, m_plan.patientLimit);
            if (!result)
                return std::nullopt;
            device.evidence << QStringLiteral("%1: %2").arg(
                registerText(probe), answerText(*result));
            if (result->outcome != SlotOutcome::Verified)
                continue;
            const auto code = codeOf(result->words);
            for (const auto &type : m_plan.types) {
                const auto &identification = type.identification;
                if (identification && identification->probe == probe
                    && identification->values.contains(code) && !confirm(address, type, device))
                    return std::nullopt;
            }
        }
        return device;
    }

    // False when the scan must stop.
    bool confirm(int address, const MeterType &type, FoundDevice &device)
    {
        const auto &block = type.identification->confirm;
        const auto result = ask(address, block, m_plan.patientLimit);
        if (!result)
            return false;
        const bool confirmed = result->outcome == SlotOutcome::Verified;
        device.evidence << QStringLiteral("%1 for %2: %3")
                               .arg(registerText(block), type.name,
                                   confirmed
                                       ? QStringLiteral("answered, confirmed")
                                       : answerText(*result) + QStringLiteral(", not confirmed"));
        if (confirmed)
            device.types << type.name;
        return true;
    }

    Link &m_link;
    Framing &m_framing;
    const BusScanPlan &m_plan;
    const Cancellation &m_cancel;
    const QList<ReadBlock> m_probes;
    BusScanReport m_report;
};

} // namespace

BusScanReport scanBus(Link &link, Framing &framing, const BusScanPlan &plan,
    const Cancellation &cancel, const BusScanListener &listener)
{
    return Scan(link, framing, plan, cancel).run(listener);
}

std::chrono::milliseconds busScanReplyLimit(int baud)
{
    return std::chrono::milliseconds(baud >= 19200 ? 100 : 150);
}

BusScanPlan busScanPlan(QList<int> addresses, std::chrono::milliseconds replyLimit)
{
    return {std::move(addresses), replyLimit, std::max(defaultReplyLimit, replyLimit),
        builtInMeterTypes()};
}

QList<int> everyDeviceAddress()
{
    QList<int> addresses;
    for (int address = 1; address <= highestMeterAddress; ++address)
        addresses << address;
    return addresses;
}

std::optional<QList<int>> addressRanges(const QString &text)
{
    static const QRegularExpression range(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    QList<int> addresses;
    std::set<int> seen;
    for (const auto &part : text.split(u',')) {
        const auto match = range.match(part.trimmed());
        if (!match.hasMatch())
            return std::nullopt;
        const int first = match.captured(1).toInt();
        const int last = match.hasCaptured(2) ? match.captured(2).toInt() : first;
        if (first < 1 || last > highestMeterAddress || first > last)
            return std::nullopt;
        for (int address = first; address <= last; ++address) {
            if (!seen.insert(address).second)
                return std::nullopt;
            addresses << address;
        }
    }
    return addresses;
}

} // namespace meterlog

#include "meters/metertype.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>

namespace meterlog {

std::optional<double> decodeField(const MeterField &field, std::span<const std::uint16_t> words)
{
    const auto size = registersOf(field.type);
    if (field.offset < 0 || std::size_t(field.offset + size) > words.size())
        return std::nullopt;
    const auto raw = readRaw(
        words.subspan(std::size_t(field.offset), std::size_t(size)), field.type, field.order);
    if (field.notAvailable && raw == *field.notAvailable)
        return std::nullopt;
    const auto number = numberOf(raw);
    if (!number)
        return std::nullopt;
    return *number * field.scale;
}

QList<ReadBlock> requestsOf(const MeterType &type, int block)
{
    const ReadBlock &whole = type.blocks.at(block);
    // No request asks for more than the protocol allows, whatever the type says.
    const int limit = std::clamp(type.maxRegisters, 1, longestRequest);
    // The field that runs across `cut`, if any.
    const auto fieldAcross = [&](int cut) -> const MeterField * {
        for (const auto &field : type.fields) {
            if (field.block == block && field.offset < cut
                && cut < field.offset + registersOf(field.type))
                return &field;
        }
        return nullptr;
    };
    QList<ReadBlock> requests;
    for (int from = 0; from < whole.count;) {
        int to = std::min(from + limit, int(whole.count));
        for (const MeterField *across = fieldAcross(to); across && across->offset > from;
             across = fieldAcross(to))
            to = across->offset;
        if (const MeterField *across = fieldAcross(to); across && across->offset <= from)
            to = std::min(from + limit, int(whole.count)); // the field cannot be read whole
        requests << ReadBlock {
            whole.function, std::uint16_t(whole.start + from), std::uint16_t(to - from)};
        from = to;
    }
    return requests;
}

QString readingPlan(const MeterType &type)
{
    // Blocks of one function one after the other are said together.
    QStringList functions;
    QStringList ranges;
    int requests = 0;
    for (int b = 0; b < type.blocks.size(); ++b) {
        const auto &block = type.blocks[b];
        ranges << (block.count == 1
                ? QString::number(block.start)
                : QStringLiteral("%1-%2").arg(block.start).arg(block.start + block.count - 1));
        const bool last
            = b + 1 == type.blocks.size() || type.blocks[b + 1].function != block.function;
        if (last) {
            functions << QStringLiteral("function %1: %2 %3")
                             .arg(block.function)
                             .arg(ranges.size() == 1 && block.count == 1
                                     ? QStringLiteral("register")
                                     : QStringLiteral("registers"))
                             .arg(ranges.join(QStringLiteral(", ")));
            ranges.clear();
        }
        requests += int(requestsOf(type, b).size());
    }
    return QStringLiteral("%1; %2 %3 a scan, at most %4 registers each")
        .arg(functions.join(QStringLiteral("; ")))
        .arg(requests)
        .arg(requests == 1 ? QStringLiteral("request") : QStringLiteral("requests"))
        .arg(type.maxRegisters);
}

int shownDecimals(const MeterField &field)
{
    if (field.decimals)
        return *field.decimals;
    if (!isFloat(field.type)) {
        const double digits = std::ceil(-std::log10(std::abs(field.scale)) - 1e-9);
        return std::clamp(int(digits), 0, 6);
    }
    static const std::map<QString, int> byUnit {{QStringLiteral("V"), 1}, {QStringLiteral("A"), 3},
        {QStringLiteral("W"), 1}, {QStringLiteral("VA"), 1}, {QStringLiteral("var"), 1},
        {QStringLiteral("kW"), 3}, {QStringLiteral("Hz"), 2}, {QStringLiteral("kWh"), 2},
        {QStringLiteral("kvarh"), 2}, {QStringLiteral("kVAh"), 2}, {QStringLiteral("%"), 1}};
    const auto found = byUnit.find(field.unit);
    return found == byUnit.end() ? 3 : found->second;
}

const MeterField *fieldNamed(const MeterType &type, const QString &name)
{
    for (const auto &field : type.fields) {
        if (field.name == name)
            return &field;
    }
    return nullptr;
}

} // namespace meterlog

#include "meters/metertypefile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "meters/meters.h"
#include "meters/tomlreading.h"

#include <algorithm>
#include <set>

namespace meterlog {

namespace {

using namespace tomlreading;

// The highest register number plus one: a block may run up to it.
constexpr int registerSpace = 65536;

// The window's own meters: their block is the window's range, read with its function.
MeterType defaultType()
{
    MeterType type;
    type.name = QStringLiteral("default");
    type.description = QStringLiteral(
        "the window's range and function; power (kW) as a 32-bit word pair at its second "
        "register, frequency (1/100 Hz) at its ninth");
    type.followsWindow = true;
    type.blocks = {ReadBlock {}};
    MeterField power;
    power.name = QStringLiteral("power");
    power.offset = defaultMeter::powerOffset;
    power.type = DataType::U32;
    power.unit = QStringLiteral("kW");
    power.deviceClass = QStringLiteral("power");
    power.stateClass = QStringLiteral("measurement");
    MeterField frequency;
    frequency.name = QStringLiteral("frequency");
    frequency.offset = defaultMeter::frequencyOffset;
    frequency.type = DataType::U16;
    frequency.scale = defaultMeter::hertzPerCount;
    frequency.unit = QStringLiteral("Hz");
    frequency.deviceClass = QStringLiteral("frequency");
    frequency.stateClass = QStringLiteral("measurement");
    type.fields = {power, frequency};
    return type;
}

ReadBlock blockOf(const toml::table &table)
{
    ReadBlock block;
    const auto &function = required(table, "function", "a block");
    if (!function.as_integer()
        || (function.as_integer()->get() != 3 && function.as_integer()->get() != 4))
        throw Fault {QStringLiteral("function must be 3 or 4"), function.source()};
    block.function = std::uint8_t(function.as_integer()->get());
    block.start = std::uint16_t(wholeOf(required(table, "start", "a block"), "start", 0, 65535));
    // A block runs up to the last register at most.
    block.count = std::uint16_t(wholeOf(required(table, "count", "a block"), "count", 1,
        std::min(registerSpace - block.start, registerSpace - 1)));
    return block;
}

// A marker written in hexadecimal, as makers' documents give them: the field's raw bits, which
// a signed type reads as its two's complement. TOML's integers are signed, so this is the one way
// to write the all-ones of a u64.
std::optional<RawValue> hexadecimalMarker(const QString &text, DataType type)
{
    static const QRegularExpression hexadecimal(QStringLiteral("^0[xX]([0-9A-Fa-f]{1,16})$"));
    const auto match = hexadecimal.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const std::uint64_t bits = match.captured(1).toULongLong(nullptr, 16);
    const int width = 16 * registersOf(type);
    if (width < 64 && bits >> width != 0)
        return std::nullopt;
    if (type == DataType::U16 || type == DataType::U32 || type == DataType::U64)
        return bits;
    if (width == 64)
        return std::int64_t(bits);
    const std::uint64_t signBit = std::uint64_t(1) << (width - 1);
    return std::int64_t(bits ^ signBit) - std::int64_t(signBit);
}

RawValue notAvailableOf(const toml::node &node, DataType type)
{
    if (isFloat(type)) {
        if (const auto *number = node.as_floating_point())
            return number->get();
        if (const auto *whole = node.as_integer())
            return double(whole->get());
    } else if (const auto *whole = node.as_integer()) {
        const bool isSigned
            = type == DataType::I16 || type == DataType::I32 || type == DataType::I64;
        if (isSigned)
            return std::int64_t(whole->get());
        if (whole->get() >= 0)
            return std::uint64_t(whole->get());
    } else if (const auto *text = node.as_string()) {
        if (const auto marker = hexadecimalMarker(QString::fromStdString(text->get()), type))
            return *marker;
    }
    throw Fault {QStringLiteral("not_available must be a value of the field's type, or its bits "
                                "in hexadecimal (\"0xFFFFFFFFFFFFFFFF\")"),
        node.source()};
}

MeterField fieldOf(const toml::table &table, const QList<ReadBlock> &blocks)
{
    static const QRegularExpression snakeCase(QStringLiteral("^[a-z][a-z0-9]*(_[a-z0-9]+)*$"));
    MeterField field;
    const auto &name = required(table, "name", "a field");
    field.name = textOf(name, "name");
    if (!snakeCase.match(field.name).hasMatch())
        throw Fault {
            QStringLiteral("field name '%1' is not snake_case").arg(field.name), name.source()};
    if (const auto *block = table.get("block"))
        field.block = int(wholeOf(*block, "block", 0, blocks.size() - 1));
    const auto &typeNode = required(table, "type", "a field");
    const auto type = dataTypeNamed(textOf(typeNode, "type"));
    if (!type) {
        throw Fault {QStringLiteral("unknown data type '%1' (u16 i16 u32 i32 u64 i64 f32 f64)")
                         .arg(textOf(typeNode, "type")),
            typeNode.source()};
    }
    field.type = *type;
    if (const auto *orderNode = table.get("order")) {
        const auto order = wordOrderNamed(textOf(*orderNode, "order"));
        if (!order)
            throw Fault {
                QStringLiteral("unknown word order (abcd cdab badc dcba)"), orderNode->source()};
        field.order = *order;
    }
    const auto &offset = required(table, "offset", "a field");
    field.offset = int(wholeOf(offset, "offset", 0, registerSpace - 1));
    if (field.offset + registersOf(field.type) > blocks[field.block].count) {
        throw Fault {QStringLiteral("field %1 lies outside its block (%2 registers)")
                         .arg(field.name)
                         .arg(blocks[field.block].count),
            offset.source()};
    }
    if (const auto *scale = table.get("scale")) {
        const auto number = scale->value<double>();
        if (!number || *number == 0)
            throw Fault {QStringLiteral("scale must be a number other than 0"), scale->source()};
        field.scale = *number;
    }
    field.unit = optionalText(table, "unit");
    field.deviceClass = optionalText(table, "device_class");
    field.stateClass = optionalText(table, "state_class");
    if (const auto *marker = table.get("not_available"))
        field.notAvailable = notAvailableOf(*marker, field.type);
    if (const auto *decimals = table.get("decimals"))
        field.decimals = int(wholeOf(*decimals, "decimals", 0, 9));
    return field;
}

// A meter answers no more than its limit at a time, and a value is only whole from one answer.
void refuseFieldsCutByRequests(const MeterType &type, const QList<const toml::table *> &tables)
{
    for (int b = 0; b < type.blocks.size(); ++b) {
        const auto requests = requestsOf(type, b);
        for (int f = 0; f < type.fields.size(); ++f) {
            const auto &field = type.fields[f];
            if (field.block != b)
                continue;
            const int first = type.blocks[b].start + field.offset;
            const int end = first + registersOf(field.type);
            const bool whole = std::any_of(requests.begin(), requests.end(),
                [&](const auto &r) { return r.start <= first && end <= r.start + r.count; });
            if (!whole) {
                throw Fault {QStringLiteral("field %1 cannot be read whole in requests of at "
                                            "most %2 registers (max_registers)")
                                 .arg(field.name)
                                 .arg(type.maxRegisters),
                    tables[f]->source()};
            }
        }
    }
}

Identification identificationOf(const toml::table &table)
{
    static const std::set<std::string> known {"function", "start", "count", "values", "confirm"};
    for (const auto &[key, node] : table) {
        if (!known.contains(std::string(key.str())))
            throw Fault {
                QStringLiteral("unknown key '%1' in identify").arg(QString::fromUtf8(key.str())),
                node.source()};
    }
    Identification identification;
    identification.probe = blockOf(table);
    // The values are compared as one whole number of the probe's words.
    constexpr int longestProbe = 4;
    if (identification.probe.count > longestProbe)
        throw Fault {QStringLiteral("identify reads at most 4 registers"), table.source()};
    const auto *values = required(table, "values", "identify").as_array();
    if (!values || values->empty())
        throw Fault {QStringLiteral("values must be a list of whole numbers"), table.source()};
    const int width = 16 * identification.probe.count;
    for (const auto &node : *values) {
        const auto *value = node.as_integer();
        if (!value || value->get() < 0 || (width < 63 && value->get() >> width != 0)) {
            throw Fault {QStringLiteral("a value must be a whole number that fits %1 registers")
                             .arg(identification.probe.count),
                node.source()};
        }
        identification.values << std::uint64_t(value->get());
    }
    const auto *confirm = required(table, "confirm", "identify").as_table();
    if (!confirm)
        throw Fault {QStringLiteral("confirm must be a table"), table.source()};
    identification.confirm = blockOf(*confirm);
    return identification;
}

MeterType typeOf(const toml::table &root)
{
    static const std::set<std::string> known {"name", "description", "maker", "models", "checked",
        "max_registers", "block", "field", "identify"};
    for (const auto &[key, node] : root) {
        if (!known.contains(std::string(key.str())))
            throw Fault {QStringLiteral("unknown key '%1'").arg(QString::fromUtf8(key.str())),
                node.source()};
    }
    MeterType type;
    // What the whole file lacks has no line of its own.
    const auto *name = root.get("name");
    if (!name)
        throw Fault {QStringLiteral("the type has no name"), {}};
    type.name = textOf(*name, "name");
    type.description = optionalText(root, "description");
    type.maker = optionalText(root, "maker");
    type.models = optionalText(root, "models");
    type.checked = optionalText(root, "checked");
    if (const auto *limit = root.get("max_registers"))
        type.maxRegisters = int(wholeOf(*limit, "max_registers", 1, longestRequest));
    forEachTable(root, "block", [&](const toml::table &table) { type.blocks << blockOf(table); });
    if (type.blocks.isEmpty())
        throw Fault {QStringLiteral("the type has no [[block]]"), {}};
    std::set<QString> names;
    QList<const toml::table *> fieldTables;
    forEachTable(root, "field", [&](const toml::table &table) {
        type.fields << fieldOf(table, type.blocks);
        fieldTables << &table;
        if (!names.insert(type.fields.last().name).second) {
            throw Fault {QStringLiteral("field %1 is named twice").arg(type.fields.last().name),
                table.source()};
        }
    });
    if (type.fields.isEmpty())
        throw Fault {QStringLiteral("the type has no [[field]]"), {}};
    refuseFieldsCutByRequests(type, fieldTables);
    if (const auto *identify = root.get("identify")) {
        if (!identify->is_table())
            throw Fault {QStringLiteral("identify must be a table"), identify->source()};
        type.identification = identificationOf(*identify->as_table());
    }
    return type;
}

} // namespace

MeterTypeOrError readMeterType(const QString &text, const QString &source)
{
    try {
        const auto root = toml::parse(text.toStdString(), source.toStdString());
        return typeOf(root);
    } catch (const toml::parse_error &error) {
        return located(source, {QString::fromUtf8(error.description()), error.source()});
    } catch (const Fault &fault) {
        return located(source, fault);
    }
}

const QList<MeterType> &builtInMeterTypes()
{
    // Asked for by every --meter-type slot and by discovery: the files are read once.
    static const QList<MeterType> types = [] {
        QList<MeterType> read {defaultType()};
        const QDir folder(QStringLiteral(":/metertypes"));
        for (const auto &name : folder.entryList({QStringLiteral("*.toml")}, QDir::Files)) {
            QFile file(folder.filePath(name));
            file.open(QIODevice::ReadOnly);
            // The built-in files are tested; one that did not read would be a build fault.
            const auto type = readMeterType(QString::fromUtf8(file.readAll()), file.fileName());
            if (const auto *each = std::get_if<MeterType>(&type))
                read << *each;
            else
                qFatal("%s", qPrintable(std::get<QString>(type)));
        }
        return read;
    }();
    return types;
}

MeterTypeOrError findMeterType(const QString &nameOrPath)
{
    for (const auto &type : builtInMeterTypes()) {
        if (type.name == nameOrPath)
            return type;
    }
    QFile file(nameOrPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("%1: no built-in type of that name (meterlog --meter-types lists "
                              "them), nor a file that can be read: %2")
            .arg(nameOrPath, file.errorString());
    }
    return readMeterType(QString::fromUtf8(file.readAll()), nameOrPath);
}

} // namespace meterlog

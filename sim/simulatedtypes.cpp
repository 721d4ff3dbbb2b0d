#include "sim/simulatedtypes.h"

#include "sim/typetexts.h"

#include <toml++/toml.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

using Field = SimulatedTypes::Field;

// The most registers the Modbus application protocol lets one read ask for.
constexpr int mostRegistersPerRead = 125;

// The built-in type files are meterlog's, tested there; read here without its code. What only
// describes the meter to a user (its maker, models, how well its map is checked, the marker of a
// value not measured) means nothing to the simulator.
SimulatedTypes::Block blockOf(const toml::table &table)
{
    return {table["function"].value_or(3), table["start"].value_or(0), table["count"].value_or(0)};
}

SimulatedTypes::Type readType(std::string_view text)
{
    const auto root = toml::parse(text);
    SimulatedTypes::Type type;
    type.maxRegisters
        = std::clamp(root["max_registers"].value_or(mostRegistersPerRead), 1, mostRegistersPerRead);
    for (const auto &node : *root["block"].as_array())
        type.blocks.push_back(blockOf(*node.as_table()));
    if (const auto *identify = root["identify"].as_table()) {
        // The first code the file accepts.
        type.identity = SimulatedTypes::Identity {blockOf(*identify),
            std::uint64_t((*identify)["values"][0].value_or(std::int64_t(0))),
            blockOf(*(*identify)["confirm"].as_table())};
    }
    for (const auto &node : *root["field"].as_array()) {
        const auto &field = *node.as_table();
        type.fields.push_back({field["name"].value_or(std::string()), field["block"].value_or(0),
            field["offset"].value_or(0), field["type"].value_or(std::string()),
            field["order"].value_or(std::string("abcd")), field["scale"].value_or(1.0)});
    }
    return type;
}

int registersOf(const std::string &type)
{
    if (type == "u16" || type == "i16")
        return 1;
    if (type == "u32" || type == "i32" || type == "f32")
        return 2;
    return 4;
}

// A value for the field at a time, by the quantity its name says; every meter a little apart.
// Each meter draws power and feeds none in, so its import counter runs at its power.
double simulatedValue(const Field &field, int address, double seconds)
{
    const auto is = [&](const char *prefix) { return field.name.rfind(prefix, 0) == 0; };
    const double wave = std::sin(seconds / 60.0 + address);
    // A phase's power or energy is a third of the total.
    const bool phase
        = field.name.ends_with("_l1") || field.name.ends_with("_l2") || field.name.ends_with("_l3");
    const double share = phase ? 1.0 / 3.0 : 1.0;
    const double imported = 1000.0 * address + seconds * address / 3600.0;
    const double exported = 10.0 * address;
    if (is("voltage"))
        return 230.0 + address * 0.5 + 2.0 * wave;
    if (is("current"))
        return 5.0 + address + wave;
    if (is("power_factor"))
        return 0.95 + 0.02 * wave;
    if (is("apparent_power"))
        return (1050.0 * address + 210.0 * wave) * share;
    if (is("reactive_power"))
        return (300.0 * address + 60.0 * wave) * share;
    if (is("power_export"))
        return 0;
    // power, power_l1 .. and power_import alike.
    if (is("power"))
        return (1000.0 * address + 200.0 * wave) * share;
    if (is("frequency"))
        return 50.0 + 0.02 * std::sin(seconds / 20.0);
    if (is("energy_import"))
        return imported * share;
    if (is("energy_export"))
        return exported * share;
    if (is("energy_total"))
        return (imported + exported) * share;
    return 0;
}

// A whole number in `count` registers, the first word highest.
std::vector<std::uint16_t> wordsOf(std::uint64_t value, int count)
{
    std::vector<std::uint16_t> words(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        words[static_cast<std::size_t>(i)]
            = static_cast<std::uint16_t>(value >> (16 * (count - 1 - i)));
    return words;
}

// The registers of the value, most significant first, then put in the field's byte order.
std::vector<std::uint16_t> encoded(const Field &field, double value)
{
    const double raw = value / field.scale;
    std::uint64_t bits = 0;
    if (field.type == "f32")
        bits = std::bit_cast<std::uint32_t>(static_cast<float>(raw));
    else if (field.type == "f64")
        bits = std::bit_cast<std::uint64_t>(raw);
    else
        bits = static_cast<std::uint64_t>(std::llround(raw));
    auto words = wordsOf(bits, registersOf(field.type));
    if (field.order == "cdab" || field.order == "dcba")
        std::reverse(words.begin(), words.end());
    if (field.order == "badc" || field.order == "dcba") {
        for (auto &word : words)
            word = static_cast<std::uint16_t>((word << 8) | (word >> 8));
    }
    return words;
}

// The meter's serial number as text, two characters a register, padded with blanks.
std::vector<std::uint16_t> serialNumberWords(int address, int count)
{
    std::string text = "SIM" + std::to_string(23'110'000 + address);
    text.resize(static_cast<std::size_t>(2 * count), ' ');
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i < text.size(); i += 2)
        words.push_back(static_cast<std::uint16_t>(
            static_cast<unsigned char>(text[i]) << 8 | static_cast<unsigned char>(text[i + 1])));
    return words;
}

} // namespace

bool isSimulatedType(const std::string &name)
{
    return builtInTypeTexts.contains(name);
}

SimulatedTypes::SimulatedTypes(const std::map<int, std::string> &names, int meterCount)
{
    // Each type file is read once, however many meters are of its type.
    std::map<std::string, std::shared_ptr<const Type>> read;
    for (int address = 1; address <= meterCount; ++address) {
        auto named = names.find(address);
        if (named == names.end())
            named = names.find(0);
        if (named == names.end())
            continue;
        auto &type = read[named->second];
        if (!type)
            type = std::make_shared<const Type>(readType(builtInTypeTexts.at(named->second)));
        m_types[address] = type;
    }
}

std::optional<TypedWords> SimulatedTypes::words(
    int address, int function, int start, int count, meterModel::Seconds sinceStart) const
{
    const auto found = m_types.find(address);
    if (found == m_types.end())
        return std::nullopt;
    const Type &type = *found->second;
    // Made in place: moving a temporary variant in makes GCC 12 warn of a vector left
    // uninitialized, wrongly, at -O1 with the sanitizers.
    const auto refused = [](std::uint8_t exception) {
        return std::optional<TypedWords>(std::in_place, std::in_place_index<1>, exception);
    };
    const bool functionKnown = std::any_of(type.blocks.begin(), type.blocks.end(),
                                   [&](const Block &block) { return block.function == function; })
        || (type.identity
            && (type.identity->probe.function == function
                || type.identity->confirm.function == function));
    if (!functionKnown)
        return refused(modbusException::illegalFunction);
    if (count < 1 || count > type.maxRegisters)
        return refused(modbusException::illegalDataValue);
    if (type.identity) {
        // Read whole, as the makers ask: Carlo Gavazzi's code a word at a time.
        const Identity &identity = *type.identity;
        const auto asked = [&](const Block &block) {
            return block.function == function && block.start == start && block.count == count;
        };
        if (asked(identity.probe))
            return TypedWords(wordsOf(identity.code, count));
        if (asked(identity.confirm))
            return TypedWords(serialNumberWords(address, count));
    }
    // A read must lie within one of the type's blocks of that function, as on the real meter; it
    // may begin anywhere in the block and stop short of its end, as meterlog reads a block
    // longer than the meter's limit a few fields at a time.
    for (std::size_t b = 0; b < type.blocks.size(); ++b) {
        const Block &block = type.blocks[b];
        if (block.function != function || start < block.start
            || start + count > block.start + block.count)
            continue;
        std::vector<std::uint16_t> image(static_cast<std::size_t>(block.count), 0);
        for (const Field &field : type.fields) {
            if (field.block != static_cast<int>(b))
                continue;
            const auto words = encoded(field, simulatedValue(field, address, sinceStart.count()));
            std::copy(words.begin(), words.end(), image.begin() + field.offset);
        }
        const auto first = image.begin() + (start - block.start);
        return TypedWords(std::vector<std::uint16_t>(first, first + count));
    }
    return refused(modbusException::illegalDataAddress);
}

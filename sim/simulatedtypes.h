// Meters of meterlog's built-in types on the simulated line (meter-sim --type): plausible,
// slowly changing values, laid out in the type's blocks as the type's file has them.
#pragma once

#include "sim/meterresponder.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Whether NAME is a built-in meter type (other than the default, the documented meters).
bool isSimulatedType(const std::string &name);

class SimulatedTypes
{
public:
    struct Field
    {
        std::string name;
        int block = 0;
        int offset = 0;
        std::string type; // u16 .. f64
        std::string order; // abcd cdab badc dcba
        double scale = 1;
    };
    struct Block
    {
        int function = 3;
        int start = 0;
        int count = 0;
    };
    // Registers whose words do not change: the maker's identification code, and the serial
    // number that confirms it, as the type file's [identify] gives them.
    struct Identity
    {
        Block probe;
        std::uint64_t code = 0;
        Block confirm;
    };
    struct Type
    {
        std::vector<Block> blocks;
        std::optional<Identity> identity;
        std::vector<Field> fields;
        // The most registers the meter answers in one read; it refuses a longer one.
        int maxRegisters = 125;
    };

    // Type names by meter address, address 0 for every other meter of the line's 1..meterCount;
    // a meter with no name is of the default type.
    SimulatedTypes(const std::map<int, std::string> &names, int meterCount);

    // What a meter of a type answers, checked in the order the Modbus application protocol gives:
    // its function, its limit per read, then its blocks. Nothing for a meter of the default type.
    std::optional<TypedWords> words(
        int address, int function, int start, int count, meterModel::Seconds sinceStart) const;

private:
    std::map<int, std::shared_ptr<const Type>> m_types;
};

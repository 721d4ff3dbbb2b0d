#pragma once

// Meter types described in TOML files, and the types meterlog ships with:
//
//   name = "sdm120"
//   description = "Eastron SDM120, single phase, input registers as floats"
//   maker = "Eastron"   # optional, like the two below
//   models = "SDM120-Modbus"
//   checked = "maker's document and 3 projects"   # how far the map is known to be right
//   max_registers = 80  # the most its meter answers in one request, 1 to 125 (125 unless given)
//   [[block]]
//   function = 4        # 3 holding registers, 4 input registers
//   start = 0
//   count = 76          # read in requests of at most max_registers, cut between fields
//   [[field]]
//   name = "voltage_l1" # snake_case
//   block = 0           # the block's index, 0 unless given
//   offset = 0          # registers from the block's start
//   type = "f32"        # u16 i16 u32 i32 u64 i64 f32 f64
//   order = "abcd"      # abcd (unless given) cdab badc dcba
//   scale = 1.0         # a multiplier, 1 unless given
//   unit = "V"
//   device_class = "voltage"      # Home Assistant's, optional
//   state_class = "measurement"   # optional
//   not_available = 0xFFFFFFFF    # the raw value sent for "not measured", optional; also as
//                                 # its bits in a string: "0xFFFFFFFFFFFFFFFF"
//   decimals = 1        # digits a person reads, optional: from the scale, or for a float
//                       # from the unit, unless given
//   [identify]          # optional: how meterlog --scan recognises the meter
//   function = 3
//   start = 0xFC02      # the maker's identification register
//   count = 1           # 1 to 4 registers, compared as one number, first word highest
//   values = [0x0070]   # the exact values of this type
//   confirm = { function = 3, start = 0xFC00, count = 2 }   # a read a hit must answer

#include <QString>
#include <QStringList>

#include <variant>

#include "meters/metertype.h"

namespace meterlog {

// A type, or why there is none: "SOURCE:LINE: reason" (the line left out where there is none).
using MeterTypeOrError = std::variant<MeterType, QString>;

// Reads a type from TOML text; `source` names it in errors.
MeterTypeOrError readMeterType(const QString &text, const QString &source);

// A built-in type by name, else a type file by path.
MeterTypeOrError findMeterType(const QString &nameOrPath);

// The built-in types, the default first; read once.
const QList<MeterType> &builtInMeterTypes();
// The window's own meter: its one block is the window's range.
inline const MeterType &defaultMeterType()
{
    return builtInMeterTypes().first();
}

} // namespace meterlog

#!/usr/bin/env python3
"""Five meters of the built-in types behind one Modbus TCP server, for meterlog's tests.

Their registers are laid out here with Python's own struct module from each maker's register
list, never by meterlog's encoder: device 1 an SDM120, 2 an SDM630, 3 an EM24, 4 an ABB B23 and
5 an SDM630. The values they hold are written as JSON to EXPECTED (null where the meter says
"not available").

usage: pymodbus_typed_meters.py PORT EXPECTED
"""
import asyncio
import json
import logging
import struct
import sys

from pymodbus.datastore import ModbusServerContext, ModbusSlaveContext, ModbusSparseDataBlock
from pymodbus.server import StartAsyncTcpServer


def words(fmt, value):
    """The registers of one value, most significant byte first."""
    raw = struct.pack(">" + fmt, value)
    return list(struct.unpack(">%dH" % (len(raw) // 2), raw))


def low_word_first(fmt, value):
    return list(reversed(words(fmt, value)))


# Eastron: 32-bit floats, high word first; register 30001 + offset.
def eastron(values):
    layout = {"voltage_l1": 0, "current_l1": 6, "power": 52 if "voltage_l2" in values else 12,
              "voltage_l2": 2, "frequency": 70, "energy_import": 72, "energy_export": 74}
    registers = {}
    for name, value in values.items():
        for i, word in enumerate(words("f", value)):
            registers[layout[name] + i] = word
    return registers


def em24(values):
    # The RS-485 EM24-DIN: 32-bit signed integers, low word first, with their value weights;
    # Hz x 10 as a 16-bit signed integer.
    layout = {"voltage_l1": (0x00, 10), "power": (0x28, 10), "energy_import": (0x3E, 10)}
    registers = {}
    for name, value in values.items():
        if name == "frequency":
            registers[0x37] = words("h", round(value * 10))[0]
            continue
        offset, weight = layout[name]
        for i, word in enumerate(low_word_first("i", round(value * weight))):
            registers[offset + i] = word
    return registers


def abb(values):
    # 64-bit energies in 0.01 kWh at 5000h; 32-bit values at 5B00h; high word first.
    registers = {}
    for i, word in enumerate(words("Q", round(values["energy_import"] * 100))):
        registers[0x5000 + i] = word
    for i, word in enumerate(words("I", round(values["voltage_l1"] * 10))):
        registers[0x5B00 + i] = word
    for i, word in enumerate(words("i", round(values["power"] * 100))):
        registers[0x5B14 + i] = word
    registers[0x5B2C] = round(values["frequency"] * 100)
    registers[0x5B3A] = 0x7FFF  # the power factor: not available
    return registers


def filled(registers, first, count):
    """Every register of the blocks the meter is read in, zero unless given."""
    block = {address: 0 for address in range(first, first + count)}
    block.update(registers)
    return block


METERS = {
    1: ("sdm120", {"voltage_l1": 230.25, "power": 1234.5, "frequency": 49.98,
                   "energy_import": 1523.75}),
    2: ("sdm630", {"voltage_l1": 231.5, "voltage_l2": 229.75, "power": -5321.25,
                   "frequency": 50.01, "energy_import": 98765.5}),
    3: ("em24", {"voltage_l1": 229.9, "power": 7654.3, "frequency": 50.1,
                 "energy_import": 4321.7}),
    4: ("abb-b23", {"voltage_l1": 232.1, "power": 15.27, "frequency": 49.99,
                    "energy_import": 123456.78}),
    5: ("sdm630", {"voltage_l1": 240.0, "voltage_l2": 239.5, "power": 11000.0,
                   "frequency": 50.02, "energy_import": 5.25}),
}


def context():
    slaves = {}
    for device, (model, values) in METERS.items():
        if model in ("sdm120", "sdm630"):
            registers = filled(eastron(values), 0, 76)
            registers.update(filled({}, 342, 2))  # the total energy, zero
            store = ModbusSlaveContext(ir=ModbusSparseDataBlock(registers), zero_mode=True)
        elif model == "em24":
            # 0000h-005Dh holds every block of the type, the export energy at 005Ch the last.
            store = ModbusSlaveContext(ir=ModbusSparseDataBlock(filled(em24(values), 0, 0x5E)),
                                       zero_mode=True)
        else:
            blocks = filled(abb(values), 0x5000, 8)
            blocks.update(filled({}, 0x5460, 24))  # the energies by phase, zero
            blocks.update(filled({k: v for k, v in abb(values).items() if k >= 0x5B00}, 0x5B00, 62))
            store = ModbusSlaveContext(hr=ModbusSparseDataBlock(blocks), zero_mode=True)
        slaves[device] = store
    return ModbusServerContext(slaves=slaves, single=False)


def main():
    logging.basicConfig(level=logging.ERROR)
    port, expected = int(sys.argv[1]), sys.argv[2]
    with open(expected, "w") as out:
        json.dump({str(d): {"type": m, **v, **({"power_factor": None} if m == "abb-b23" else {})}
                   for d, (m, v) in METERS.items()}, out)
    asyncio.run(StartAsyncTcpServer(context=context(), address=("127.0.0.1", port),
                                    allow_reuse_address=True))


if __name__ == "__main__":
    main()

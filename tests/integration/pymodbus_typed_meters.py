#!/usr/bin/env python3
"""Meters of the built-in types behind one Modbus TCP server, or on one RTU line, for meterlog's
tests.

Their registers are laid out here with Python's own struct module, from the register maps that
the makers' documents and independent projects give (one row per model below), never from
meterlog's type files or encoder. Each server refuses a read longer than its model answers, as
the meter does. The values they hold are written as JSON to EXPECTED, by device: the type and
each field's value (null where the meter says "not available").

Each meter also holds its maker's identification registers, as the makers' documents and the
drivers that identify meters give them (holding registers, read with function 3), where the
maker has them.

usage: pymodbus_typed_meters.py PORT EXPECTED [METER,METER,...]   (devices 1, 2, ... in order;
       default sdm120,sdm630,em24,abb-b23,sdm630)
       pymodbus_typed_meters.py --serial DEVICE EXPECTED [METER,METER,...]   (RTU at 38400 8N1;
       prints "ready" once it is about to serve)
A METER is TYPE (the next address) or ADDRESS=TYPE; TYPE "unknown" is a device of no known kind
(holding registers 0 to 9, exception 02 elsewhere); a METER ending in "!garbled" sends a few bytes
of garbage instead of its first reply.
"""
import asyncio
import json
import logging
import struct
import sys

from pymodbus.datastore import ModbusServerContext, ModbusSlaveContext, ModbusSparseDataBlock
from pymodbus.server import StartAsyncSerialServer, StartAsyncTcpServer
from pymodbus.transaction import ModbusRtuFramer

# struct's letter for each data type.
FORMATS = {"u16": "H", "i16": "h", "u32": "I", "i32": "i", "u64": "Q", "i64": "q",
           "f32": "f", "f64": "d"}

EASTRON_1P = [("voltage_l1", 0x00, "f32", "abcd", 1), ("current_l1", 0x06, "f32", "abcd", 1),
              ("power", 0x0C, "f32", "abcd", 1), ("apparent_power", 0x12, "f32", "abcd", 1),
              ("reactive_power", 0x18, "f32", "abcd", 1), ("power_factor", 0x1E, "f32", "abcd", 1),
              ("frequency", 0x46, "f32", "abcd", 1), ("energy_import", 0x48, "f32", "abcd", 1),
              ("energy_export", 0x4A, "f32", "abcd", 1), ("energy_total", 0x156, "f32", "abcd", 1)]
EASTRON_3P = [("voltage_l1", 0x00, "f32", "abcd", 1), ("voltage_l2", 0x02, "f32", "abcd", 1),
              ("voltage_l3", 0x04, "f32", "abcd", 1), ("current_l1", 0x06, "f32", "abcd", 1),
              ("current_l2", 0x08, "f32", "abcd", 1), ("current_l3", 0x0A, "f32", "abcd", 1),
              ("power_l1", 0x0C, "f32", "abcd", 1), ("power_l2", 0x0E, "f32", "abcd", 1),
              ("power_l3", 0x10, "f32", "abcd", 1), ("power_factor_l1", 0x1E, "f32", "abcd", 1),
              ("power_factor_l2", 0x20, "f32", "abcd", 1),
              ("power_factor_l3", 0x22, "f32", "abcd", 1), ("power", 0x34, "f32", "abcd", 1),
              ("power_factor", 0x3E, "f32", "abcd", 1), ("frequency", 0x46, "f32", "abcd", 1),
              ("energy_import", 0x48, "f32", "abcd", 1), ("energy_export", 0x4A, "f32", "abcd", 1),
              ("energy_total", 0x156, "f32", "abcd", 1)]
# Carlo Gavazzi: 32-bit integers low word first; the fields all models share.
GAVAZZI = [("voltage_l1", 0x00, "i32", "cdab", 0.1), ("voltage_l2", 0x02, "i32", "cdab", 0.1),
           ("voltage_l3", 0x04, "i32", "cdab", 0.1), ("current_l1", 0x0C, "i32", "cdab", 0.001),
           ("current_l2", 0x0E, "i32", "cdab", 0.001), ("current_l3", 0x10, "i32", "cdab", 0.001),
           ("power_l1", 0x12, "i32", "cdab", 0.1), ("power_l2", 0x14, "i32", "cdab", 0.1),
           ("power_l3", 0x16, "i32", "cdab", 0.1), ("power", 0x28, "i32", "cdab", 0.1)]
GAVAZZI_E1 = GAVAZZI + [
    ("power_factor_l1", 0x2E, "i16", "abcd", 0.001), ("power_factor_l2", 0x2F, "i16", "abcd", 0.001),
    ("power_factor_l3", 0x30, "i16", "abcd", 0.001), ("power_factor", 0x31, "i16", "abcd", 0.001),
    ("frequency", 0x33, "u16", "abcd", 0.1), ("energy_import", 0x34, "i32", "cdab", 0.1),
    ("energy_import_l1", 0x40, "i32", "cdab", 0.1), ("energy_import_l2", 0x42, "i32", "cdab", 0.1),
    ("energy_import_l3", 0x44, "i32", "cdab", 0.1), ("energy_export", 0x4E, "i32", "cdab", 0.1)]

# Each model: the function it is read with, the most registers it answers a request, its fields
# (name, register as sent on the wire, data type, word order, scale to the unit meterlog shows),
# and the fields it marks "not available" with their marker's bits.
MODELS = {
    "sdm120": (4, 80, EASTRON_1P, {}),
    "sdm220": (4, 125, EASTRON_1P, {}),
    "sdm230": (4, 60, EASTRON_1P, {}),
    "sdm630": (4, 80, EASTRON_3P, {}),
    "sdm72": (4, 60, EASTRON_3P, {}),
    "em24": (4, 11, GAVAZZI + [
        ("power_factor_l1", 0x32, "i16", "abcd", 0.001),
        ("power_factor_l2", 0x33, "i16", "abcd", 0.001),
        ("power_factor_l3", 0x34, "i16", "abcd", 0.001),
        ("power_factor", 0x35, "i16", "abcd", 0.001), ("frequency", 0x37, "i16", "abcd", 0.1),
        ("energy_import", 0x3E, "i32", "cdab", 0.1),
        ("energy_import_l1", 0x46, "i32", "cdab", 0.1),
        ("energy_import_l2", 0x48, "i32", "cdab", 0.1),
        ("energy_import_l3", 0x4A, "i32", "cdab", 0.1),
        ("energy_export", 0x5C, "i32", "cdab", 0.1)], {}),
    "em24-e1": (4, 125, GAVAZZI_E1, {}),
    "em340": (4, 125, GAVAZZI + [
        ("power_factor", 0x31, "i16", "abcd", 0.001), ("frequency", 0x33, "u16", "abcd", 0.1),
        ("energy_import", 0x34, "i32", "cdab", 0.1),
        ("energy_export", 0x4E, "i32", "cdab", 0.1)], {}),
    "abb-b23": (3, 125, [
        ("energy_import", 0x5000, "u64", "abcd", 0.01),
        ("energy_export", 0x5004, "u64", "abcd", 0.01),
        ("voltage_l1", 0x5B00, "u32", "abcd", 0.1), ("voltage_l2", 0x5B02, "u32", "abcd", 0.1),
        ("voltage_l3", 0x5B04, "u32", "abcd", 0.1), ("current_l1", 0x5B0C, "u32", "abcd", 0.01),
        ("current_l2", 0x5B0E, "u32", "abcd", 0.01), ("current_l3", 0x5B10, "u32", "abcd", 0.01),
        ("power", 0x5B14, "i32", "abcd", 0.01), ("power_l1", 0x5B16, "i32", "abcd", 0.01),
        ("power_l2", 0x5B18, "i32", "abcd", 0.01), ("power_l3", 0x5B1A, "i32", "abcd", 0.01),
        ("frequency", 0x5B2C, "u16", "abcd", 0.01), ("power_factor", 0x5B3A, "i16", "abcd", 0.001),
        ("power_factor_l1", 0x5B3B, "i16", "abcd", 0.001),
        ("power_factor_l2", 0x5B3C, "i16", "abcd", 0.001),
        ("power_factor_l3", 0x5B3D, "i16", "abcd", 0.001),
        ("energy_import_l1", 0x5460, "u64", "abcd", 0.01),
        ("energy_import_l2", 0x5464, "u64", "abcd", 0.01),
        ("energy_import_l3", 0x5468, "u64", "abcd", 0.01),
        ("energy_export_l1", 0x546C, "u64", "abcd", 0.01),
        ("energy_export_l2", 0x5470, "u64", "abcd", 0.01),
        ("energy_export_l3", 0x5474, "u64", "abcd", 0.01)],
        # Unsigned values the meter cannot give read all ones, signed ones the largest number.
        {"energy_export": 0xFFFFFFFFFFFFFFFF, "power_factor_l2": 0x7FFF}),
    "janitza-b23": (3, 125, [
        ("voltage_l1", 19000, "f32", "abcd", 1), ("voltage_l2", 19002, "f32", "abcd", 1),
        ("voltage_l3", 19004, "f32", "abcd", 1), ("current_l1", 19012, "f32", "abcd", 1),
        ("current_l2", 19014, "f32", "abcd", 1), ("current_l3", 19016, "f32", "abcd", 1),
        ("power_l1", 19020, "f32", "abcd", 1), ("power_l2", 19022, "f32", "abcd", 1),
        ("power_l3", 19024, "f32", "abcd", 1), ("power", 19026, "f32", "abcd", 1),
        ("power_factor_l1", 19044, "f32", "abcd", 1), ("power_factor_l2", 19046, "f32", "abcd", 1),
        ("power_factor_l3", 19048, "f32", "abcd", 1), ("frequency", 19050, "f32", "abcd", 1),
        ("energy_import", 19068, "f32", "abcd", 0.001),
        ("energy_export", 19076, "f32", "abcd", 0.001)], {}),
    "dvh4013": (3, 125, [
        ("power_import", 0x00, "u32", "abcd", 0.1), ("power_export", 0x02, "u32", "abcd", 0.1),
        ("voltage_l1", 0x04, "u32", "abcd", 0.01), ("voltage_l2", 0x06, "u32", "abcd", 0.01),
        ("voltage_l3", 0x08, "u32", "abcd", 0.01), ("current_l1", 0x0A, "u32", "abcd", 0.001),
        ("current_l2", 0x0C, "u32", "abcd", 0.001), ("current_l3", 0x0E, "u32", "abcd", 0.001),
        ("power_factor", 0x10, "u32", "abcd", 0.001), ("frequency", 0x12, "u32", "abcd", 0.001),
        ("energy_import", 0x4000, "u32", "abcd", 0.001),
        ("energy_export", 0x4100, "u32", "abcd", 0.001)], {}),
    "orno-we516": (3, 125, [
        ("voltage_l1", 0x0E, "f32", "abcd", 1), ("voltage_l2", 0x10, "f32", "abcd", 1),
        ("voltage_l3", 0x12, "f32", "abcd", 1), ("frequency", 0x14, "f32", "abcd", 1),
        ("current_l1", 0x16, "f32", "abcd", 1), ("current_l2", 0x18, "f32", "abcd", 1),
        ("current_l3", 0x1A, "f32", "abcd", 1), ("power", 0x1C, "f32", "abcd", 1000),
        ("power_l1", 0x1E, "f32", "abcd", 1000), ("power_l2", 0x20, "f32", "abcd", 1000),
        ("power_l3", 0x22, "f32", "abcd", 1000), ("power_factor", 0x34, "f32", "abcd", 1),
        ("energy_total", 0x100, "f32", "abcd", 1), ("energy_import", 0x108, "f32", "abcd", 1),
        ("energy_export", 0x110, "f32", "abcd", 1)], {}),
    "orno-we525": (4, 125, [
        ("voltage_l1", 0x100, "i32", "abcd", 0.001), ("current_l1", 0x102, "i32", "abcd", 0.001),
        ("power", 0x104, "i32", "abcd", 1), ("frequency", 0x10A, "i16", "abcd", 0.1),
        ("power_factor", 0x10B, "i16", "abcd", 0.001),
        ("energy_import", 0x10E, "i32", "abcd", 0.01),
        ("energy_export", 0x118, "i32", "abcd", 0.01)], {}),
    "pro380": (3, 125, [
        ("voltage_l1", 0x5002, "f32", "abcd", 1), ("voltage_l2", 0x5004, "f32", "abcd", 1),
        ("voltage_l3", 0x5006, "f32", "abcd", 1), ("frequency", 0x5008, "f32", "abcd", 1),
        ("current_l1", 0x500C, "f32", "abcd", 1), ("current_l2", 0x500E, "f32", "abcd", 1),
        ("current_l3", 0x5010, "f32", "abcd", 1), ("power", 0x5012, "f32", "abcd", 1000),
        ("power_l1", 0x5014, "f32", "abcd", 1000), ("power_l2", 0x5016, "f32", "abcd", 1000),
        ("power_l3", 0x5018, "f32", "abcd", 1000), ("power_factor", 0x502A, "f32", "abcd", 1),
        ("power_factor_l1", 0x502C, "f32", "abcd", 1),
        ("power_factor_l2", 0x502E, "f32", "abcd", 1),
        ("power_factor_l3", 0x5030, "f32", "abcd", 1),
        ("energy_import", 0x600C, "f32", "abcd", 1), ("energy_export", 0x6018, "f32", "abcd", 1)],
        {}),
    "dtsu666": (3, 125, [
        ("voltage_l1", 0x2006, "f32", "abcd", 0.1), ("voltage_l2", 0x2008, "f32", "abcd", 0.1),
        ("voltage_l3", 0x200A, "f32", "abcd", 0.1), ("current_l1", 0x200C, "f32", "abcd", 0.001),
        ("current_l2", 0x200E, "f32", "abcd", 0.001), ("current_l3", 0x2010, "f32", "abcd", 0.001),
        ("power", 0x2012, "f32", "abcd", 0.1), ("power_l1", 0x2014, "f32", "abcd", 0.1),
        ("power_l2", 0x2016, "f32", "abcd", 0.1), ("power_l3", 0x2018, "f32", "abcd", 0.1),
        ("power_factor", 0x202A, "f32", "abcd", 0.001), ("frequency", 0x2044, "f32", "abcd", 0.01),
        ("energy_import", 0x101E, "f32", "abcd", 1), ("energy_export", 0x1028, "f32", "abcd", 1)],
        {}),
    "finder-7m38": (4, 125, [
        ("voltage_l1", 2500, "f32", "abcd", 1), ("voltage_l2", 2502, "f32", "abcd", 1),
        ("voltage_l3", 2504, "f32", "abcd", 1), ("current_l1", 2516, "f32", "abcd", 1),
        ("current_l2", 2518, "f32", "abcd", 1), ("current_l3", 2520, "f32", "abcd", 1),
        ("power_l1", 2530, "f32", "abcd", 1), ("power_l2", 2532, "f32", "abcd", 1),
        ("power_l3", 2534, "f32", "abcd", 1), ("power", 2536, "f32", "abcd", 1),
        ("power_factor", 2560, "f32", "abcd", 1), ("frequency", 2584, "f32", "abcd", 1),
        ("energy_import", 2752, "f32", "abcd", 0.001),
        ("energy_export", 2756, "f32", "abcd", 0.001)], {}),
    "pac2200": (4, 125, [
        ("voltage_l1", 1, "f32", "abcd", 1), ("voltage_l2", 3, "f32", "abcd", 1),
        ("voltage_l3", 5, "f32", "abcd", 1), ("current_l1", 13, "f32", "abcd", 1),
        ("current_l2", 15, "f32", "abcd", 1), ("current_l3", 17, "f32", "abcd", 1),
        ("power_l1", 25, "f32", "abcd", 1), ("power_l2", 27, "f32", "abcd", 1),
        ("power_l3", 29, "f32", "abcd", 1), ("power", 65, "f32", "abcd", 1),
        ("power_factor", 69, "f32", "abcd", 1), ("energy_import", 801, "f64", "abcd", 0.001),
        ("energy_export", 809, "f64", "abcd", 0.001)], {}),
}


def text_words(text, count):
    """Text two characters a register, padded with blanks."""
    padded = text.ljust(2 * count).encode("ascii")
    return [padded[i] << 8 | padded[i + 1] for i in range(0, 2 * count, 2)]


def eastron(code):
    # Meter code at FC02h, one register; serial number at FC00h, a u32.
    return {0xFC02: code, 0xFC00: 0x0160, 0xFC01: 0x2A4B}


def gavazzi(code, serial_register):
    # Identification code at 000Bh; serial number, 7 registers of text.
    words = text_words("BN2310045001", 7)
    return {0x000B: code, **{serial_register + i: word for i, word in enumerate(words)}}


# Holding registers that say what the meter is; none for the models without such a register.
IDENTIFICATION = {
    "sdm120": eastron(0x0020),
    "sdm630": eastron(0x0070),
    "sdm72": eastron(0x0089),
    "em24": gavazzi(72, 0x1300),
    "em24-e1": gavazzi(1650, 0x5000),
    "em340": gavazzi(341, 0x5000),
    # Type designation "B23 " at 8960h, 6 registers of text; serial number at 8900h, a u32.
    "abb-b23": {**{0x8960 + i: w for i, w in enumerate(text_words("B23 112-100", 6))},
                0x8900: 0x0075, 0x8901: 0xBCD1},
}


def value_for(name, data_type, device):
    """A plausible value in the unit meterlog shows, a little different for each device and
    phase; negative for a signed power, so that a sign read wrong shows."""
    bases = [("power_factor", 0.93), ("voltage", 230.4), ("current", 5.125), ("frequency", 49.97),
             ("energy", 12345.5), ("apparent_power", 2150.0), ("reactive_power", 310.0),
             ("power", 1520.5)]
    base = next(base for prefix, base in bases if name.startswith(prefix))
    phase = int(name[-1]) if name[-3:] in ("_l1", "_l2", "_l3") else 0
    if name.startswith("power_factor"):
        return base - device / 100 - phase / 1000
    value = base * (1 + device / 1000 + phase / 100)
    if data_type[0] in "if" and (name == "power" or name.startswith("power_l")):
        value = -value
    return value


def words_of(raw, data_type, order):
    """The registers of a raw value, high word first unless the order says low word first."""
    packed = struct.pack(">" + FORMATS[data_type], raw)
    words = list(struct.unpack(">%dH" % (len(packed) // 2), packed))
    return list(reversed(words)) if order == "cdab" else words


def laid_out(model, device):
    """The meter's registers, and what each field reads as in meterlog's units."""
    _, _, fields, markers = MODELS[model]
    registers, expected = {}, {}
    for name, register, data_type, order, scale in fields:
        if name in markers:
            raw, expected[name] = markers[name], None
        else:
            wanted = value_for(name, data_type, device)
            if data_type.startswith("f"):
                raw = wanted / scale
                # What the meter sends is what its float holds.
                sent = struct.unpack(">" + FORMATS[data_type],
                                     struct.pack(">" + FORMATS[data_type], raw))[0]
                expected[name] = sent * scale
            else:
                raw = round(wanted / scale)
                expected[name] = raw * scale
        for i, word in enumerate(words_of(raw, data_type, order)):
            registers[register + i] = word
    # The registers between the fields are there too, reading 0.
    first, last = min(registers), max(registers)
    block = {address: 0 for address in range(first, last + 1)}
    block.update(registers)
    return block, expected


class GarbledOnce:
    """Replaces the first reply of the devices named with bytes that are no frame."""

    def __init__(self, devices):
        self.waiting = set(devices)

    def __call__(self, response):
        if response.unit_id in self.waiting:
            self.waiting.discard(response.unit_id)
            return b"\x5a\xa5\x17", True
        return response, False


def meters_of(text):
    """{address: (type, garbled once)} from the METER list."""
    meters, address = {}, 0
    for entry in text.split(","):
        garbled = entry.endswith("!garbled")
        entry = entry.removesuffix("!garbled")
        if "=" in entry:
            address, model = entry.split("=")
            address = int(address)
        else:
            address, model = address + 1, entry
        meters[address] = (model, garbled)
    return meters


class MeterContext(ModbusSlaveContext):
    """One meter: a read longer than the model answers is refused, like one past its registers."""

    def __init__(self, limit, **blocks):
        # A table the meter lacks answers exception 02, as one past its registers.
        super().__init__(zero_mode=True, **{table: ModbusSparseDataBlock(blocks.get(table, {}))
                                            for table in ("di", "co", "hr", "ir")})
        self.limit = limit

    def validate(self, fc_as_hex, address, count=1):
        return count <= self.limit and super().validate(fc_as_hex, address, count)


def main():
    logging.basicConfig(level=logging.ERROR)
    arguments = sys.argv[1:]
    serial_device = None
    if arguments[0] == "--serial":
        # In the place of the port.
        serial_device, arguments = arguments[1], ["0"] + arguments[2:]
    port, expected_path = int(arguments[0]), arguments[1]
    meters = meters_of(arguments[2] if len(arguments) > 2 else "sdm120,sdm630,em24,abb-b23,sdm630")
    unknown = [model for model, _ in meters.values() if model not in MODELS and model != "unknown"]
    if unknown:
        sys.exit("no register map for " + ", ".join(unknown))
    slaves, expected = {}, {}
    for device, (model, _) in meters.items():
        if model == "unknown":
            slaves[device] = MeterContext(125, hr={register: 1000 + register
                                                   for register in range(10)})
            expected[str(device)] = {"type": model}
            continue
        function, limit, _, _ = MODELS[model]
        registers, values = laid_out(model, device)
        blocks = {"hr": dict(IDENTIFICATION.get(model, {}))}
        if function == 4:
            blocks["ir"] = registers
        else:
            blocks["hr"].update(registers)
        slaves[device] = MeterContext(limit, **blocks)
        expected[str(device)] = {"type": model, **values}
    with open(expected_path, "w") as out:
        json.dump(expected, out)
    context = ModbusServerContext(slaves=slaves, single=False)
    if serial_device:
        # One RTU line at 38400 baud; an address it lacks stays silent, as on a bus.
        print("ready", flush=True)
        garbled = [device for device, (_, once) in meters.items() if once]
        asyncio.run(StartAsyncSerialServer(context=context, framer=ModbusRtuFramer,
                                           port=serial_device, baudrate=38400, bytesize=8,
                                           parity="N", stopbits=1,
                                           response_manipulator=GarbledOnce(garbled)))
    else:
        asyncio.run(StartAsyncTcpServer(context=context, address=("127.0.0.1", port),
                                        allow_reuse_address=True))


if __name__ == "__main__":
    main()

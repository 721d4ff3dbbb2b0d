"""Five Modbus RTU slaves (device addresses 1 to 5) from pymodbus on one serial device.

Usage: pymodbus_meters.py DEVICE

Device d holds, from protocol address 4011 on, the words d * 100 + r for r = 0..29, except the
ninth (address 4019), which holds 5000 + d: a frequency in hundredths of a hertz. Prints "ready"
once the server is about to serve.
"""

import asyncio
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import StartAsyncSerialServer
from pymodbus.transaction import ModbusRtuFramer

FIRST_ADDRESS = 4011
REGISTERS = 30


def words_of(device):
    words = [device * 100 + r for r in range(REGISTERS)]
    words[8] = 5000 + device
    return words


def main():
    logging.basicConfig(level=logging.ERROR)
    slaves = {
        device: ModbusSlaveContext(
            hr=ModbusSequentialDataBlock(FIRST_ADDRESS, words_of(device)), zero_mode=True)
        for device in range(1, 6)
    }
    context = ModbusServerContext(slaves=slaves, single=False)
    print("ready", flush=True)
    asyncio.run(StartAsyncSerialServer(context=context, framer=ModbusRtuFramer,
                                       port=sys.argv[1], baudrate=38400, bytesize=8,
                                       parity="N", stopbits=1))


if __name__ == "__main__":
    main()

"""Five Modbus slaves (device addresses, or unit ids, 1 to 5) from pymodbus.

Usage: pymodbus_meters.py DEVICE            RTU on a serial device
       pymodbus_meters.py --tcp PORT        Modbus TCP on 127.0.0.1:PORT
       pymodbus_meters.py --rtu-tcp PORT    RTU frames over TCP on 127.0.0.1:PORT, as a
                                            transparent gateway passes them

Device d holds, from protocol address 4011 on, the words d * 100 + r for r = 0..29, except the
ninth (address 4019), which holds 5000 + d: a frequency in hundredths of a hertz. Prints "ready"
once the server is about to serve.
"""

import asyncio
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import StartAsyncSerialServer, StartAsyncTcpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer

FIRST_ADDRESS = 4011
REGISTERS = 30
# What the input registers hold above the holding registers at the same address.
INPUT_OFFSET = 30000


def words_of(device):
    words = [device * 100 + r for r in range(REGISTERS)]
    words[8] = 5000 + device
    return words


def server(context, arguments):
    if arguments[0] in ("--tcp", "--rtu-tcp"):
        framer = ModbusSocketFramer if arguments[0] == "--tcp" else ModbusRtuFramer
        # A server started again on its port takes it back at once, as a restarted gateway does.
        return StartAsyncTcpServer(context=context, framer=framer,
                                   address=("127.0.0.1", int(arguments[1])),
                                   allow_reuse_address=True)
    return StartAsyncSerialServer(context=context, framer=ModbusRtuFramer, port=arguments[0],
                                  baudrate=38400, bytesize=8, parity="N", stopbits=1)


def main():
    logging.basicConfig(level=logging.ERROR)
    slaves = {
        device: ModbusSlaveContext(
            hr=ModbusSequentialDataBlock(FIRST_ADDRESS, words_of(device)),
            # The input registers hold other words, so that a reply of the wrong kind shows.
            ir=ModbusSequentialDataBlock(FIRST_ADDRESS, [INPUT_OFFSET + w for w in words_of(device)]),
            zero_mode=True)
        for device in range(1, 6)
    }
    context = ModbusServerContext(slaves=slaves, single=False)
    print("ready", flush=True)
    asyncio.run(server(context, sys.argv[1:]))


if __name__ == "__main__":
    main()

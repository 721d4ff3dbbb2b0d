"""Reads registers once with pymodbus's TCP client and its RTU framer (RTU over TCP).

Usage: pymodbus_rtu_over_tcp.py HOST PORT UNIT START COUNT TIMEOUT_S holding|input

START is the protocol address (0-based). Prints "values V1 V2 ..." or "failure TEXT", the text in
the words mbpoll uses, so that a test's expectations read the same for both masters.
"""

import logging
import sys

from pymodbus.client import ModbusTcpClient
from pymodbus.exceptions import ConnectionException, ModbusIOException
from pymodbus.pdu import ExceptionResponse
from pymodbus.transaction import ModbusRtuFramer

# libmodbus's texts for the exception codes a meter or a gateway sends.
EXCEPTION_TEXTS = {
    1: "Illegal function",
    2: "Illegal data address",
    3: "Illegal data value",
    4: "Slave device or server failure",
    11: "Target device failed to respond",
}


def main():
    logging.basicConfig(level=logging.CRITICAL)
    host, port, unit, start, count, timeout, table = sys.argv[1:8]
    # pymodbus 3.0 takes whole seconds; retries would hide a silence behind repeated requests.
    client = ModbusTcpClient(host, port=int(port), framer=ModbusRtuFramer,
                             timeout=max(1, round(float(timeout))), retries=0)
    read = client.read_holding_registers if table == "holding" else client.read_input_registers
    try:
        response = read(int(start), int(count), slave=int(unit))
    except ConnectionException:
        print("failure Connection closed")
        return 1
    finally:
        client.close()
    if isinstance(response, ExceptionResponse):
        code = response.exception_code
        print("failure", EXCEPTION_TEXTS.get(code, f"exception {code}"))
        return 1
    if isinstance(response, ModbusIOException) or response.isError():
        print("failure Connection timed out")
        return 1
    print("values", *response.registers)
    return 0


if __name__ == "__main__":
    sys.exit(main())

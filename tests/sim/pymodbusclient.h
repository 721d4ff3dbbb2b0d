// Reads registers with pymodbus's TCP client and its RTU framer: RTU frames with their CRC on a
// TCP connection, as a master behind a transparent gateway sends them.
#pragma once

#include "tests/sim/masters.h"

// endpoint is rtu+tcp://HOST:PORT.
MasterReading pymodbusRead(const QString &endpoint, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table);

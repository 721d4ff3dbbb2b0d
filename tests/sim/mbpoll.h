// Reads registers with mbpoll, a Modbus master that shares no code with the simulator, over a
// serial device or Modbus TCP.
#pragma once

#include "tests/sim/masters.h"

QString mbpollPath();

// endpoint is a device path or tcp://HOST:PORT.
MasterReading mbpollRead(const QString &endpoint, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table);

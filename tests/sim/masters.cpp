#include "tests/sim/masters.h"

#include "tests/sim/mbpoll.h"
#include "tests/sim/pymodbusclient.h"

MasterReading readRegisters(const QString &endpoint, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table)
{
    if (endpoint.startsWith(QLatin1String("rtu+tcp://")))
        return pymodbusRead(endpoint, address, reference, count, timeoutSeconds, table);
    return mbpollRead(endpoint, address, reference, count, timeoutSeconds, table);
}

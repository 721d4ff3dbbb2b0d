// Reads registers from meter-sim with a Modbus master that shares no code with it: mbpoll
// (libmodbus) on the pseudo-terminal and for Modbus TCP, pymodbus for RTU over TCP.
#pragma once

#include <QList>
#include <QString>

struct MasterReading
{
    bool ran = false;
    int exitCode = -1;
    // Reference (1-based) and value of every register the master read, in order.
    QList<int> references;
    QList<int> values;
    // The master's complaint in mbpoll's words, such as "Illegal data address" or
    // "Connection timed out".
    QString failure;
};

enum class RegisterTable { Holding, Input };

// endpoint is a device path, tcp://HOST:PORT or rtu+tcp://HOST:PORT; reference is 1-based, as
// mbpoll counts (protocol address 4011 is reference 4012).
MasterReading readRegisters(const QString &endpoint, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table = RegisterTable::Holding);

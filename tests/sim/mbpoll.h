// Reads registers with mbpoll, a Modbus master that shares no code with the simulator.
#pragma once

#include <QList>
#include <QString>

struct MbpollReading
{
    bool ran = false;
    int exitCode = -1;
    // Reference (1-based) and value of every register mbpoll printed, in order.
    QList<int> references;
    QList<int> values;
    // mbpoll's complaint, such as "Illegal data address" or "Connection timed out".
    QString failure;
};

enum class RegisterTable { Holding, Input };

QString mbpollPath();

MbpollReading mbpollRead(const QString &device, int address, int reference, int count,
    double timeoutSeconds, RegisterTable table = RegisterTable::Holding);

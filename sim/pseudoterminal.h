// A pseudo-terminal pair made by the simulator: the meters talk on the master side, a master
// program opens the slave device.
#pragma once

#include <string>

class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // On failure returns false and leaves a reason in error.
    bool open(std::string &error);
    void close();

    bool isOpen() const { return m_masterFd >= 0; }
    int masterFd() const { return m_masterFd; }
    const std::string &slavePath() const { return m_slavePath; }

private:
    int m_masterFd = -1;
    // Held open for the whole life of the pair: without it the master side reports a hang-up,
    // and poll() would wake at once, each time a program closes the slave device.
    int m_slaveFd = -1;
    std::string m_slavePath;
};

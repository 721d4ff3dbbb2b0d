// The meters on a pseudo-terminal, found by a master program through a symbolic link such as
// build/bin/com9.
#pragma once

#include "sim/devicelink.h"
#include "sim/meterlink.h"
#include "sim/pseudoterminal.h"
#include "sim/rtuline.h"

class PseudoTerminalLink final : public MeterLink
{
public:
    PseudoTerminalLink(std::string linkPath, MeterBus &meters, RequestLog &log);

    bool open(std::string &readyText, std::string &error) override;
    void close() override;
    bool isOpen() const override { return m_terminal.isOpen(); }
    void addPollEntries(std::vector<pollfd> &entries) const override;
    void service(std::span<const pollfd> entries, lineTiming::TimePoint now) override;
    std::optional<lineTiming::TimePoint> deadline() const override;

private:
    PseudoTerminal m_terminal;
    DeviceLink m_link;
    RtuLine m_line;
};

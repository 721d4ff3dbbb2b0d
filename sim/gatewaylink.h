// The meters behind a simulated network gateway: a listening TCP socket whose clients' bytes go to
// a stream handler, RTU frames for a transparent gateway or MBAP frames for a Modbus TCP one.
#pragma once

#include "sim/meterlink.h"
#include "sim/requestlog.h"
#include "sim/streamhandler.h"

#include <cstdint>
#include <map>
#include <memory>
#include <netinet/in.h>

class GatewayLink final : public MeterLink
{
public:
    // scheme starts the address in the ready line ("tcp", "rtu+tcp"); port 0 picks a free port,
    // which is kept when the gateway listens again after a restart.
    GatewayLink(std::string scheme, in_addr address, std::uint16_t port,
        std::unique_ptr<StreamHandler> handler, RequestLog &log);
    ~GatewayLink() override;
    GatewayLink(const GatewayLink &) = delete;
    GatewayLink &operator=(const GatewayLink &) = delete;

    bool open(std::string &readyText, std::string &error) override;
    void close() override;
    bool isOpen() const override { return m_listener >= 0; }
    void addPollEntries(std::vector<pollfd> &entries) const override;
    void service(std::span<const pollfd> entries, lineTiming::TimePoint now) override;
    std::optional<lineTiming::TimePoint> deadline() const override;

private:
    void acceptClients(lineTiming::TimePoint now);
    void closeClient(int fd, std::string_view reason, lineTiming::TimePoint now);
    std::string clientName(int fd) const;

    std::string m_scheme;
    in_addr m_address;
    std::uint16_t m_port;
    std::unique_ptr<StreamHandler> m_handler;
    RequestLog &m_log;
    int m_listener = -1;
    // Descriptor to the client's number, which names it in the log.
    std::map<int, int> m_clients;
    int m_lastClientNumber = 0;
};

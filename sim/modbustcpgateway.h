// A Modbus TCP to RTU gateway in front of the meters: the clients' MBAP requests become RTU frames
// on the one serial line, one exchange at a time in the order they came, and the meters' replies
// go back as MBAP frames. A meter that gives no usable reply within the gateway's serial time-out
// gets exception 0B (gateway target device failed to respond) from the gateway, or nothing.
#pragma once

#include "sim/mbapframe.h"
#include "sim/meterbus.h"
#include "sim/requestlog.h"
#include "sim/simoptions.h"
#include "sim/streamhandler.h"

#include <deque>
#include <map>

class ModbusTcpGateway final : public StreamHandler
{
public:
    ModbusTcpGateway(MeterBus &meters, RequestLog &log, const SimOptions &options);

    void attach(int fd, std::string origin) override;
    void detach(int fd) override;
    void receive(int fd, std::span<const std::uint8_t> bytes, lineTiming::TimePoint now) override;
    void service(lineTiming::TimePoint now) override;
    std::optional<lineTiming::TimePoint> deadline() const override;
    std::vector<int> takeDropped() override;

private:
    struct Client
    {
        std::string name;
        // Bytes of a frame that has not arrived completely.
        std::vector<std::uint8_t> pending;
        lineTiming::TimePoint lastArrival {};
    };
    struct QueuedRequest
    {
        int fd;
        MbapRequest request;
    };
    // One request on the serial line and what the gateway will send back for it.
    struct Exchange
    {
        // -1 once the client has gone: the line stays busy, the reply goes nowhere.
        int fd;
        std::string origin;
        std::vector<std::uint8_t> reply;
        lineTiming::TimePoint replyAt;
        bool targetFailed;
    };

    void takeRequests(int fd, Client &client, lineTiming::TimePoint now);
    void dropIncompleteFrames(lineTiming::TimePoint now);
    void startExchange(lineTiming::TimePoint now);
    void finishExchange(lineTiming::TimePoint now);

    MeterBus &m_meters;
    RequestLog &m_log;
    std::chrono::milliseconds m_timeout;
    bool m_answersTargetFailures;
    std::map<int, Client> m_clients;
    std::deque<QueuedRequest> m_queue;
    std::optional<Exchange> m_exchange;
    lineTiming::TimePoint m_lineFreeAt {};
    std::vector<int> m_dropped;
};

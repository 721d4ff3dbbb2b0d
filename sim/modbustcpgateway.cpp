#include "sim/modbustcpgateway.h"

#include "sim/crc16.h"

#include <array>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

// A few clients with a request or two each in flight; more can only come from a client that
// floods the gateway, and dropping them keeps memory bounded whatever it does.
constexpr std::size_t mostQueuedRequests = 16;
// The rest of a frame that has not come by then never will: the client sent a length field that
// promised more, and the bytes are thrown away so that its next frame is read from its start.
constexpr lineTiming::Clock::duration incompleteFrameTimeout = 500ms;
constexpr std::uint8_t broadcastUnit = 0;
constexpr std::uint8_t exceptionFlag = 0x80;
// Address, function and CRC: anything shorter is no reply at all.
constexpr std::size_t shortestRtuReply = 4;
// The address before the PDU, the CRC after it.
constexpr std::size_t rtuOverhead = 3;

} // namespace

ModbusTcpGateway::ModbusTcpGateway(MeterBus &meters, RequestLog &log, const SimOptions &options)
    : m_meters(meters)
    , m_log(log)
    , m_timeout(options.gatewayTimeout)
    , m_answersTargetFailures(options.gatewayAnswersTargetFailures)
{ }

void ModbusTcpGateway::attach(int fd, std::string origin)
{
    m_clients.insert_or_assign(fd, Client {std::move(origin), {}, {}});
}

void ModbusTcpGateway::detach(int fd)
{
    m_clients.erase(fd);
    std::erase_if(m_queue, [fd](const QueuedRequest &queued) { return queued.fd == fd; });
    if (m_exchange && m_exchange->fd == fd)
        m_exchange->fd = -1;
    std::erase(m_dropped, fd);
}

void ModbusTcpGateway::receive(
    int fd, std::span<const std::uint8_t> bytes, lineTiming::TimePoint now)
{
    const auto client = m_clients.find(fd);
    if (client == m_clients.end())
        return;
    client->second.pending.insert(client->second.pending.end(), bytes.begin(), bytes.end());
    client->second.lastArrival = now;
    takeRequests(fd, client->second, now);
}

void ModbusTcpGateway::takeRequests(int fd, Client &client, lineTiming::TimePoint now)
{
    for (;;) {
        MbapScan scan = scanMbapFrame(client.pending);
        switch (scan.kind) {
        case MbapScan::Kind::Incomplete:
            return;
        case MbapScan::Kind::BadLength:
            m_log.event(now,
                client.name + ": dropped " + std::to_string(scan.size) + " bytes: MBAP length "
                    + std::to_string(scan.length) + " cannot be a Modbus frame's");
            break;
        case MbapScan::Kind::ForeignProtocol:
            m_log.event(now,
                client.name + ": dropped a frame with protocol id "
                    + std::to_string(scan.protocolId));
            break;
        case MbapScan::Kind::Request:
            if (m_queue.size() < mostQueuedRequests)
                m_queue.push_back(QueuedRequest {fd, std::move(scan.request)});
            else
                m_log.event(now, client.name + ": dropped a request: the gateway's queue is full");
            break;
        }
        client.pending.erase(client.pending.begin(),
            client.pending.begin() + static_cast<std::ptrdiff_t>(scan.size));
    }
}

void ModbusTcpGateway::dropIncompleteFrames(lineTiming::TimePoint now)
{
    for (auto &[fd, client] : m_clients) {
        if (client.pending.empty() || now < client.lastArrival + incompleteFrameTimeout)
            continue;
        m_log.event(now,
            client.name + ": dropped " + std::to_string(client.pending.size())
                + " bytes: the rest of the frame never came");
        client.pending.clear();
    }
}

void ModbusTcpGateway::startExchange(lineTiming::TimePoint now)
{
    const QueuedRequest queued = std::move(m_queue.front());
    m_queue.pop_front();
    const MbapRequest &request = queued.request;
    const std::string origin
        = m_clients.at(queued.fd).name + " tid=" + std::to_string(request.transactionId);

    std::vector<std::uint8_t> frame;
    frame.reserve(request.pdu.size() + rtuOverhead);
    frame.push_back(request.unit);
    frame.insert(frame.end(), request.pdu.begin(), request.pdu.end());
    appendCrc(frame);
    const bool paced = m_meters.paced();
    const auto wireEnd = now + (paced ? lineTiming::onTheWire(frame.size()) : 0ns);
    const MeterAnswer answer = m_meters.answer(ReceivedFrame {frame, wireEnd, false}, now);
    m_log.request(now, origin, answer, answer.reply.size());
    // A master keeps t3.5 of silence on the line before its next request.
    const auto gap = paced ? lineTiming::Clock::duration(lineTiming::frameSilence) : 0ns;
    if (answer.dropsConnection) {
        m_dropped.push_back(queued.fd);
        m_lineFreeAt = wireEnd + gap;
        return;
    }
    // Nobody answers a broadcast, and a gateway knows not to wait for it.
    if (request.unit == broadcastUnit) {
        m_lineFreeAt = wireEnd + gap;
        return;
    }

    const std::vector<std::uint8_t> &reply = answer.reply;
    const auto replyEnd = answer.startAt + (paced ? lineTiming::onTheWire(reply.size()) : 0ns);
    const auto givesUpAt = wireEnd + m_timeout;
    // A frame the gateway cannot verify is no reply to it: it goes on waiting for a good one.
    const bool usable
        = reply.size() >= shortestRtuReply && hasValidCrc(reply) && replyEnd <= givesUpAt;
    Exchange exchange {queued.fd, origin, {}, usable ? replyEnd : givesUpAt, !usable};
    if (usable) {
        // The unit id is the address the reply came from, so a master can tell another device's.
        exchange.reply = mbapFrame(request.transactionId, reply.front(),
            std::span(reply).subspan(1, reply.size() - rtuOverhead));
    } else if (m_answersTargetFailures) {
        const std::array<std::uint8_t, 2> pdu {
            static_cast<std::uint8_t>(request.pdu.front() | exceptionFlag),
            modbusException::gatewayTargetFailedToRespond};
        exchange.reply = mbapFrame(request.transactionId, request.unit, pdu);
    }
    m_lineFreeAt = exchange.replyAt + gap;
    m_exchange = std::move(exchange);
}

void ModbusTcpGateway::finishExchange(lineTiming::TimePoint now)
{
    const Exchange exchange = std::move(*m_exchange);
    m_exchange.reset();
    if (exchange.targetFailed) {
        m_log.event(now,
            exchange.origin + ": no usable reply within " + std::to_string(m_timeout.count())
                + " ms, "
                + (exchange.reply.empty() ? "the gateway keeps quiet"
                                          : "exception 0B from the gateway"));
    }
    // A client that went away in the meantime gets nothing.
    if (exchange.fd < 0 || exchange.reply.empty())
        return;
    const auto size = static_cast<ssize_t>(exchange.reply.size());
    if (::write(exchange.fd, exchange.reply.data(), exchange.reply.size()) != size)
        m_log.event(now, exchange.origin + ": reply lost, the connection takes no more");
}

void ModbusTcpGateway::service(lineTiming::TimePoint now)
{
    dropIncompleteFrames(now);
    for (;;) {
        if (m_exchange && now >= m_exchange->replyAt)
            finishExchange(now);
        if (m_exchange || m_queue.empty() || now < m_lineFreeAt)
            return;
        startExchange(now);
    }
}

std::optional<lineTiming::TimePoint> ModbusTcpGateway::deadline() const
{
    std::optional<lineTiming::TimePoint> due;
    if (m_exchange)
        due = m_exchange->replyAt;
    else if (!m_queue.empty())
        due = m_lineFreeAt;
    for (const auto &[fd, client] : m_clients) {
        if (!client.pending.empty())
            due = lineTiming::earliest(due, client.lastArrival + incompleteFrameTimeout);
    }
    return due;
}

std::vector<int> ModbusTcpGateway::takeDropped()
{
    return std::exchange(m_dropped, {});
}

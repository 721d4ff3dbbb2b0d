#pragma once

// Serves GET /metrics in Prometheus's text format on a listening address of its own, from the
// latest reading. libmicrohttpd parses HTTP and runs the connections on a thread of its own, so
// a scrape never waits on a scan or the window, nor they on a scrape; it bounds what a client can
// cost: a few dozen connections at once, a few per address, 16 KiB of request, 10 s of silence.
// Every other path is 404 and every other method 405.

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "meters/metertype.h"
#include "meters/reading.h"

struct MHD_Daemon;

namespace meterlog {

// Where the endpoint listens: 127.0.0.1 unless a host is given.
struct MetricsAddress
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
};

inline constexpr quint16 defaultMetricsPort = 19502;

// "[HOST:]PORT" (an IPv4 address, or an IPv6 one in brackets), or nothing when it is none.
std::optional<MetricsAddress> parseMetricsAddress(const QString &text);

class MetricsServer : public QObject
{
    Q_OBJECT

public:
    MetricsServer(MetricsAddress address, std::vector<std::optional<MeterType>> types,
        QObject *parent = nullptr);
    ~MetricsServer() override;

    // Listens; false, with why in `failure`, when the address cannot be had.
    bool start(QString &failure);
    // The port it listens on (the one picked, for port 0).
    quint16 port() const { return m_port; }

    void takeReading(const Reading &reading);
    // The latest reading as a scrape gets it; empty before the first. Any thread may ask.
    QByteArray metrics();

private:
    MetricsAddress m_address;
    const std::vector<std::optional<MeterType>> m_types;
    quint16 m_port = 0;
    MHD_Daemon *m_daemon = nullptr;
    std::mutex m_mutex;
    // The latest reading, kept whole: a scrape renders it on the server's thread.
    std::shared_ptr<const Reading> m_latest;
};

} // namespace meterlog

// Sends hand-made frames through the simulator's link, or a connection to its gateway, and
// collects whatever comes back, for the byte-level cases no ready-made master can produce.
#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

class RawLine
{
public:
    RawLine() = default;
    ~RawLine();
    RawLine(const RawLine &) = delete;
    RawLine &operator=(const RawLine &) = delete;

    // endpoint is a device path, or tcp://HOST:PORT or rtu+tcp://HOST:PORT to connect to.
    bool open(const QString &endpoint);
    // Drops anything unread on a terminal, writes the request and returns every byte that arrives
    // until the line has been quiet for the given time; empty when nothing answers.
    QByteArray exchange(const QByteArray &request, std::chrono::milliseconds quiet = defaultQuiet);
    bool send(const QByteArray &request);
    // Collects bytes without sending anything: waits up to firstByteWithin for the first one,
    // then until the line has been quiet for the default time.
    QByteArray receive(std::chrono::milliseconds firstByteWithin);
    // True once the other side of the line, or of the connection, has gone away.
    bool hungUp() const;

    // A paced reply has no gaps longer than a character; this much quiet means it is over, with
    // room for a machine busy with other builds.
    static constexpr std::chrono::milliseconds defaultQuiet {250};

private:
    bool connectTo(const QString &host, int port);
    QByteArray collect(std::chrono::milliseconds firstByteWithin, std::chrono::milliseconds quiet);

    int m_fd = -1;
    bool m_isTerminal = false;
};

// Sends hand-made frames through the simulator's link and collects whatever comes back, for the
// byte-level cases no ready-made master can produce.
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

    bool open(const QString &device);
    // Drops anything unread, writes the request and returns every byte that arrives until the
    // line has been quiet for the given time; empty when nothing answers.
    QByteArray exchange(const QByteArray &request, std::chrono::milliseconds quiet = defaultQuiet);
    // Collects bytes without sending anything: waits up to firstByteWithin for the first one,
    // then until the line has been quiet for the default time.
    QByteArray receive(std::chrono::milliseconds firstByteWithin);
    // True once the other side of the line has gone away.
    bool hungUp() const;

    // A paced reply has no gaps longer than a character; this much quiet means it is over, with
    // room for a machine busy with other builds.
    static constexpr std::chrono::milliseconds defaultQuiet {250};

private:
    QByteArray collect(std::chrono::milliseconds firstByteWithin, std::chrono::milliseconds quiet);

    int m_fd = -1;
};

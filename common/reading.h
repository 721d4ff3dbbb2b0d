#pragma once

// What the window leaves, after a summary, for those who publish it: the captions as the window
// shows them and, for each meter, whether its most recent scan confirmed what it shows, with its
// counts; and, after every verified reply, the block of words it brought. Plain values: the
// publishers know nothing of the window, the grid or the line.

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace meterlog {

inline constexpr int publishedMeters = 5;

struct MeterState
{
    std::optional<std::uint8_t> address; // the last one asked
    bool confirmed = false; // its most recent scan got a verified reply
    std::uint64_t requests = 0;
    std::uint64_t replies = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t crcErrors = 0;
    std::uint64_t foreignReplies = 0;
    std::uint64_t exceptions = 0;
    QDateTime lastReply; // null until the first verified reply

    friend bool operator==(const MeterState &, const MeterState &) = default;
};

struct Reading
{
    QDateTime at; // when the summary ran
    QString frequency; // the captions, as in the snapshot line
    std::array<QString, publishedMeters> kilowatts;
    std::array<MeterState, publishedMeters> meters;
    QString snapshotLine;
};

struct RegisterBlock
{
    int meter = 0; // 0 for M1
    std::uint8_t address = 0;
    std::uint16_t start = 0;
    QList<std::uint16_t> words;
    QDateTime at;
};

// A time as ISO 8601 in local time with its offset from UTC: "2026-12-08T14:03:07+01:00".
QString isoLocalTime(const QDateTime &time);

} // namespace meterlog

#pragma once

// One quantity's course over the last day, thinned for display: for each of the chart's spans a
// fixed number of time buckets, each keeping the lowest and the highest value the meter sent in
// it. Both are real samples, so a thinned curve never shows a value that was not sent, and a day
// at any tick rate costs the same memory. A gap (nothing known: the meter stale, the port lost)
// breaks the line: a bucket that holds one is not drawn, so no line is ever drawn across it.

#include <QList>
#include <QPointF>

#include <array>
#include <chrono>
#include <deque>
#include <optional>

namespace meterlog {

enum class Span { TenMinutes, OneHour, OneDay };
inline constexpr std::array spans {Span::TenMinutes, Span::OneHour, Span::OneDay};
std::chrono::milliseconds spanLength(Span span);
// How finely each span is kept: about one bucket per pixel of a wide chart.
inline constexpr int bucketsPerSpan = 600;

class TrendTrace
{
public:
    // A sample at `atMs` (milliseconds since the epoch): a value the meter sent, or none for a
    // gap. Samples may come in any order; one older than the longest span is dropped.
    void add(qint64 atMs, std::optional<double> value);
    // Adds what `other` holds, as if its samples had been added here.
    void merge(const TrendTrace &other);
    // The span ending at `nowMs` as runs of points in time order (x in milliseconds since the
    // epoch), a new run after every gap.
    QList<QList<QPointF>> runs(Span span, qint64 nowMs) const;
    // The newest sample's time, and whether it was a gap; nothing before the first.
    std::optional<qint64> newestAt() const { return m_newestAt; }
    bool newestIsGap() const { return m_newestIsGap; }

private:
    struct Bucket
    {
        qint64 slot = 0; // time / width
        std::optional<QPointF> low, high;
        bool broken = false; // holds a gap
    };
    using Buckets = std::deque<Bucket>; // by slot, oldest first

    void noteNewest(qint64 atMs, bool gap);
    static void mergeInto(Buckets &buckets, const Bucket &bucket);

    std::array<Buckets, spans.size()> m_buckets;
    std::optional<qint64> m_newestAt;
    bool m_newestIsGap = false;
};

} // namespace meterlog

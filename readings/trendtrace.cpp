#include "readings/trendtrace.h"

#include <algorithm>

namespace meterlog {

namespace {

using namespace std::chrono_literals;

qint64 bucketWidthMs(Span span)
{
    return spanLength(span).count() / bucketsPerSpan;
}

// Floor division: times before 1970 stay in order.
qint64 slotOf(qint64 atMs, qint64 widthMs)
{
    return atMs >= 0 ? atMs / widthMs : -((-atMs + widthMs - 1) / widthMs);
}

} // namespace

std::chrono::milliseconds spanLength(Span span)
{
    static constexpr std::array<std::chrono::milliseconds, spans.size()> lengths {10min, 1h, 24h};
    return lengths[int(span)];
}

void TrendTrace::add(qint64 atMs, std::optional<double> value)
{
    noteNewest(atMs, !value);
    for (const Span span : spans) {
        Bucket sample {slotOf(atMs, bucketWidthMs(span)), {}, {}, !value};
        if (value)
            sample.low = sample.high = QPointF(double(atMs), *value);
        mergeInto(m_buckets[int(span)], sample);
    }
}

void TrendTrace::merge(const TrendTrace &other)
{
    if (other.m_newestAt)
        noteNewest(*other.m_newestAt, other.m_newestIsGap);
    for (const Span span : spans) {
        for (const auto &bucket : other.m_buckets[int(span)])
            mergeInto(m_buckets[int(span)], bucket);
    }
}

void TrendTrace::noteNewest(qint64 atMs, bool gap)
{
    if (!m_newestAt || atMs >= *m_newestAt) {
        m_newestAt = atMs;
        m_newestIsGap = gap;
    }
}

void TrendTrace::mergeInto(Buckets &buckets, const Bucket &bucket)
{
    if (!buckets.empty() && bucket.slot <= buckets.back().slot - bucketsPerSpan)
        return;
    auto at = std::lower_bound(buckets.begin(), buckets.end(), bucket.slot,
        [](const Bucket &each, qint64 slot) { return each.slot < slot; });
    if (at == buckets.end() || at->slot != bucket.slot)
        at = buckets.insert(at, Bucket {bucket.slot, {}, {}, false});
    at->broken = at->broken || bucket.broken;
    if (bucket.low && (!at->low || bucket.low->y() < at->low->y()))
        at->low = bucket.low;
    if (bucket.high && (!at->high || bucket.high->y() > at->high->y()))
        at->high = bucket.high;
    // The bucket just added may be the newest: what falls out of the span goes.
    while (buckets.front().slot <= buckets.back().slot - bucketsPerSpan)
        buckets.pop_front();
}

QList<QList<QPointF>> TrendTrace::runs(Span span, qint64 nowMs) const
{
    const auto &buckets = m_buckets[int(span)];
    const qint64 firstMs = nowMs - spanLength(span).count();
    QList<QList<QPointF>> runs;
    QList<QPointF> run;
    const auto endRun = [&] {
        if (!run.isEmpty())
            runs << std::exchange(run, {});
    };
    for (const auto &bucket : buckets) {
        if (bucket.broken) {
            endRun();
            continue;
        }
        QPointF first = *bucket.low, second = *bucket.high;
        if (second.x() < first.x())
            std::swap(first, second);
        for (const QPointF &point : {first, second}) {
            if (point.x() >= firstMs && point.x() <= nowMs
                && (run.isEmpty() || run.last() != point))
                run << point;
        }
    }
    endRun();
    return runs;
}

} // namespace meterlog

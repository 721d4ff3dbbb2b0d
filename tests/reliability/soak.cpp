// A long run of the window's scan cycle against five meters played on a pseudo-terminal, with
// faults injected at random (seeded) into their replies. Counts scans, replies accepted and
// rejected, grid values that differ from what the meters hold (must be 0), scans that overran
// their bound (hangs, must be 0) and resident memory at the start and the end.
//
// Usage: meterlog-soak [CYCLES] [SEED]   exit status 0 when nothing wrong was seen

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <random>
#include <unistd.h>

#include "app/form1.h"
#include "bench/benchfigures.h"
#include "table/registergrid.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/scriptedmeter.h"
#include "tests/support/windowonline.h"

using namespace meterlog;

namespace {

// A scan of five slots that each wait their full limit, with room to spare.
constexpr qint64 scanBoundMs = 5 * 1000;

// The meters: most replies are good; the rest carry one fault each, drawn by the seeded
// generator. Faults that make the master wait its full limit are kept rare so a run stays short.
class FaultyMeters : public QObject
{
public:
    FaultyMeters(PseudoTerminal &line, unsigned seed)
        : m_line(line)
        , m_random(seed)
    { }

    QByteArray answer(const QByteArray &request)
    {
        const auto device = quint8(request[0]);
        const auto good = normalReply(device, deviceCodedWords(device, quint8(request[5])));
        std::uniform_int_distribution<int> permille(0, 999);
        const int draw = permille(m_random);
        if (draw < 900)
            return good;
        if (draw < 920) {
            auto flipped = good;
            flipped[draw % good.size()] = char(flipped[draw % good.size()] ^ (1 << (draw % 8)));
            return flipped;
        }
        if (draw < 940)
            return normalReply(quint8(device % 5 + 1), deviceCodedWords(device % 5 + 1, 12));
        if (draw < 960)
            return exceptionReply(device, quint8(1 + draw % 6));
        if (draw < 970)
            return QByteArray::fromHex("FF00A5") + good;
        if (draw < 980)
            return request + good;
        if (draw < 997)
            return good + QByteArray::fromHex("00FF");
        if (draw < 998)
            return good.left(1 + draw % (good.size() - 1));
        if (draw < 999) {
            QTimer::singleShot(600, this, [this, good] { m_line.send(good); });
            return {};
        }
        return {};
    }

private:
    PseudoTerminal &m_line;
    std::mt19937 m_random;
};

// Cells hold a meter's own word for their row, or nothing yet.
int wrongCells(const Form1 &form)
{
    int wrong = 0;
    for (int slot = 0; slot < slotCount; ++slot) {
        for (int row = 1; row < RegisterGrid::gridRows; ++row) {
            const auto cell = form.tabel->cellText(row, slot + 2).value_or(QStringLiteral("?"));
            if (!cell.isEmpty() && cell != deviceCodedCell(slot + 1, row))
                ++wrong;
        }
    }
    return wrong;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 20000;
    const unsigned seed = argc > 2 ? unsigned(std::atoi(argv[2])) : 1;

    QTemporaryDir dir;
    PseudoTerminal line;
    line.linkAs(dir.filePath(QStringLiteral("com9")));
    FaultyMeters meters(line, seed);
    ScriptedMeter scripted(line, [&](const QByteArray &request) { return meters.answer(request); });
    Form1 form(dir.path());
    form.Form_Load();
    form.Timer3->stop();

    long rssStart = 0;
    int wrongValues = 0, hangs = 0;
    QElapsedTimer total;
    total.start();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (cycle == std::min(100, cycles / 2))
            rssStart = meterlog::bench::residentKiB(getpid());
        QElapsedTimer clock;
        clock.start();
        form.cmdTest_Click();
        // The meters' record of requests is the harness's, not meterlog's: it must not count.
        scripted.clearHistory();
        if (clock.elapsed() > scanBoundMs)
            ++hangs;
        wrongValues += wrongCells(form);
        if (cycle % 50 == 0)
            form.Command1_Click();
    }
    const long rssEnd = meterlog::bench::residentKiB(getpid());

    std::uint64_t accepted = 0, rejected = 0;
    for (int slot = 0; slot < slotCount; ++slot) {
        const auto &c = form.health().counters(slot);
        accepted += c.verifiedReplies;
        rejected += c.requestsSent - c.verifiedReplies;
    }
    std::printf("soak: seed %u, %d scans in %.0f s\n", seed, cycles, total.elapsed() / 1000.0);
    std::printf("  replies accepted   %llu\n", static_cast<unsigned long long>(accepted));
    std::printf("  replies rejected   %llu\n", static_cast<unsigned long long>(rejected));
    std::printf("  wrong grid values  %d\n", wrongValues);
    std::printf("  hangs              %d\n", hangs);
    std::printf("  resident memory    %ld kB after warm-up, %ld kB at the end\n", rssStart, rssEnd);
    return wrongValues == 0 && hangs == 0 && accepted > 0 && rejected > 0 ? 0 : 1;
}

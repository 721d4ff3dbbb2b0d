#include "app/busscancommand.h"

#include <QEventLoop>

#include <cstdio>
#include <unistd.h>

#include "app/busscanreport.h"
#include "app/linkchoice.h"
#include "app/stopsignals.h"
#include "modbus/busscan.h"
#include "modbus/crc16.h"
#include "serial/serialcomm.h"

namespace meterlog {

namespace {

void say(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), stream);
    std::fflush(stream);
}

// Opens the link, waiting for a network link to connect; false with the reason said.
bool openLink(Link &link)
{
    auto opening = link.open();
    if (opening == Link::Opening::Pending) {
        QEventLoop loop;
        QObject::connect(&link, &Link::opened, &loop, [&] { loop.exit(1); });
        QObject::connect(&link, &Link::openFailed, &loop, [&] { loop.exit(0); });
        opening = loop.exec() == 1 ? Link::Opening::Open : Link::Opening::Failed;
    }
    if (opening == Link::Opening::Open)
        return true;
    say(stderr, QStringLiteral("meterlog: %1").arg(link.openFailure()));
    return false;
}

// On a terminal, one line redrawn in place: a bar, the address asked and the devices found so
// far. Elsewhere (a log, a pipe) a plain line now and then, and none to clear.
class ProgressShown
{
public:
    ProgressShown()
        : m_terminal(::isatty(STDERR_FILENO) == 1)
    { }

    void show(const BusScanProgress &progress)
    {
        const QString text = busScanProgressText(progress);
        if (!m_terminal) {
            constexpr int plainEvery = 25;
            if (progress.asked % plainEvery == 0 || progress.asked == progress.total)
                say(stderr, text);
            return;
        }
        constexpr int barWidth = 30;
        const int done = progress.total > 0 ? barWidth * progress.asked / progress.total : 0;
        const QString bar = QString(done, u'#') + QString(barWidth - done, u'.');
        std::fputs(qPrintable(QStringLiteral("\r[%1] %2\x1b[K").arg(bar, text)), stderr);
        std::fflush(stderr);
    }
    // Before a line of its own goes to the terminal.
    void clear()
    {
        if (m_terminal) {
            std::fputs("\r\x1b[K", stderr);
            std::fflush(stderr);
        }
    }

private:
    bool m_terminal;
};

} // namespace

int runBusScanCommand(const ProgramOptions &options, const QString &folder)
{
    const auto &scan = *options.scan;
    SerialComm serial(folder);
    CrcRoutine crc;
    crc.fillTable();
    LinkChoice choice(serial, crc);
    // Both were checked with the command line.
    serial.setSettings(options.start.lineSettings);
    choice.choose(options.start.port);
    if (!openLink(choice.link()))
        return 1;

    auto plan = busScanPlan(
        scan.addresses, scan.replyLimit.value_or(busScanReplyLimit(serial.settings().baudRate)));
    plan.types += scan.extraTypes;

    Cancellation cancel;
    onStopSignals(&cancel, [&cancel](const QString &) { cancel.cancel(); });
    ProgressShown progress;
    const auto report = scanBus(choice.link(), choice.framing(), plan, cancel,
        [&](const BusScanProgress &now, const FoundDevice *found) {
            if (found) {
                progress.clear();
                say(stdout, foundDeviceLine(*found));
            }
            progress.show(now);
        });
    progress.clear();
    say(stdout, busScanSummary(report));
    choice.link().close();
    if (scan.lineFile) {
        const auto failure = saveLineFile(*scan.lineFile,
            busScanLineFile(options.start.port, options.start.lineSettings, report,
                QDateTime::currentDateTimeUtc()));
        if (failure) {
            say(stderr, QStringLiteral("meterlog: %1").arg(*failure));
            return 1;
        }
    }
    return report.cancelled || !report.linkFailure.isEmpty() ? 1 : 0;
}

} // namespace meterlog

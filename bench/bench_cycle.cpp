// Per-request cost of the scan cycle alone, without a window: a console that asks device 1 for
// 12 registers from 4011 in slot 0 only and keeps the words, over `com9` in the folder given or a
// Modbus TCP connection. Set beside the window's figure, it shows what the link and Modbus layers
// cost and what the window adds.
//
// Usage: bench_cycle FOLDER REQUESTS quiet|back-to-back [tcp://HOST:PORT]

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/benchfigures.h"
#include "bench/benchlink.h"
#include "modbus/scancycle.h"
#include "net/networkaddress.h"
#include "net/tcplink.h"
#include "serial/serialcomm.h"

namespace {

// Longer than the 1.75 ms frame gap, so the master finds the line quiet and sends at once.
constexpr std::chrono::milliseconds quietLine {3};
constexpr qint16 simulatorPort = 9;

class OneSlotConsole : public meterlog::ScanConsole
{
public:
    QList<std::uint16_t> words;

    bool slotTicked(int slot) const override { return slot == 0; }
    QString deviceAddressText(int) const override { return QStringLiteral("1"); }
    QString startAddressText() const override { return QStringLiteral("4011"); }
    QString registerCountText() const override { return QStringLiteral("12"); }
    void showSlotMark(int, meterlog::SlotMark) override { }
    void storeRegisters(
        int, const meterlog::ReadRequest &, const QList<std::uint16_t> &stored) override
    {
        words = stored;
    }
    void reportSlot(int, const meterlog::SlotReport &) override { }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(
            stderr, "usage: bench_cycle FOLDER REQUESTS quiet|back-to-back [tcp://HOST:PORT]\n");
        return 2;
    }
    const int requests = std::atoi(argv[2]);
    const bool quiet = std::strcmp(argv[3], "quiet") == 0;
    meterlog::SerialComm serial(QString::fromLocal8Bit(argv[1]));
    meterlog::TcpLink network;
    meterlog::CrcRoutine crc;
    crc.fillTable();
    meterlog::RtuFraming rtu(crc, meterlog::FramePath::SerialLine);
    meterlog::MbapFraming mbap;
    const auto address
        = argc > 4 ? meterlog::parseNetworkAddress(QString::fromLocal8Bit(argv[4])) : std::nullopt;
    meterlog::Link &port = address ? static_cast<meterlog::Link &>(network) : serial;
    meterlog::Framing &framing = address ? static_cast<meterlog::Framing &>(mbap) : rtu;
    if (address) {
        network.setAddress(*address);
        network.open();
    } else {
        serial.setSettings(u"38400,n,8,1");
        serial.setCommPort(simulatorPort);
        serial.setPortOpen(true);
    }
    if (!meterlog::bench::waitUntilOpen(port)) {
        std::fprintf(stderr, "%s does not open\n", qPrintable(port.name()));
        return 1;
    }
    meterlog::Cancellation cancel;
    OneSlotConsole console;

    std::vector<double> milliseconds;
    milliseconds.reserve(requests);
    int verified = 0;
    for (int i = 0; i < requests; ++i) {
        console.words.clear();
        if (quiet)
            std::this_thread::sleep_for(quietLine);
        QElapsedTimer clock;
        clock.start();
        meterlog::runScanCycle(console, port, framing, cancel);
        milliseconds.push_back(double(clock.nsecsElapsed()) / 1e6);
        verified += console.words.size() == 12;
    }
    using namespace meterlog::bench;
    printFigure("requests", requests, 0);
    printFigure("verified", verified, 0);
    printFigure("median_ms", median(milliseconds));
    printFigure("p10_ms", percentile(milliseconds, 0.1));
    printFigure("p90_ms", percentile(milliseconds, 0.9));
    return verified == requests ? 0 : 1;
}

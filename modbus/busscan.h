#pragma once

// The bus scan: which addresses of a line answer, and what each device there says it is. Every
// address is asked once with a short reply limit; anything a device answers, an exception
// included, shows it is there, and an answer that did not check out is asked again with a longer
// limit before the address is called empty. A device found is asked the identification register
// of every maker whose meter types say how their meters are recognised, and a type is named only
// when the device's words are exactly one of the type's values and a second read confirms it.
// The scan sends reads only.

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

#include "meters/metertype.h"
#include "modbus/framing.h"
#include "modbus/replywait.h"

namespace meterlog {

class Link;

struct BusScanPlan
{
    QList<int> addresses; // asked in this order
    std::chrono::milliseconds replyLimit {100}; // for the first question at an address
    // For a garbled answer's second chance and for the reads of a device that is there.
    std::chrono::milliseconds patientLimit {500};
    QList<MeterType> types; // those that say how they are recognised are tried
};

struct FoundDevice
{
    int address = 0;
    // The types it was recognised as: none when its model is unknown, two or more when several
    // types' identifications match it.
    QStringList types;
    // Which register said what, in the order asked.
    QStringList evidence;
};

struct BusScanProgress
{
    int asked = 0; // addresses asked so far
    int total = 0;
    int found = 0;
};

struct BusScanReport
{
    QList<FoundDevice> found;
    int asked = 0; // addresses
    int requests = 0;
    std::chrono::milliseconds took {};
    bool cancelled = false;
    // Why the scan stopped early on its link; empty when it did not.
    QString linkFailure;
};

// Told after every address; `justFound` is the device found there, if one was.
using BusScanListener
    = std::function<void(const BusScanProgress &progress, const FoundDevice *justFound)>;

// Runs the scan over `link`, framed by `framing`. Other events run during its waits; it returns
// at once, touching the link no more, when `cancel` fires.
BusScanReport scanBus(Link &link, Framing &framing, const BusScanPlan &plan,
    const Cancellation &cancel, const BusScanListener &listener = {});

// The first question's reply limit for a line at `baud`: 100 ms at 19200 baud and above, where
// a meter's reply takes a few milliseconds on the wire, and 150 ms below.
std::chrono::milliseconds busScanReplyLimit(int baud);

// The scan meterlog runs over `addresses`: the first question waits `replyLimit`, the others no
// less than a poll waits for a meter, and the built-in types are tried.
BusScanPlan busScanPlan(QList<int> addresses, std::chrono::milliseconds replyLimit);

// Every address a device may have on a line, 1 to 247.
QList<int> everyDeviceAddress();

// "1-247", "1,5,7-9": the addresses in order, each once, all 1 to 247; nothing when the text is
// no such list.
std::optional<QList<int>> addressRanges(const QString &text);

} // namespace meterlog

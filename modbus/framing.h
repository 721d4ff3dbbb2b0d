#pragma once

// How a request and its reply are framed on a link: RTU (address, request, CRC), as on the serial
// line and through a transparent gateway, or MBAP for Modbus TCP. Each request becomes an exchange
// that knows its own frame and how to judge what comes back, so that a scan nested inside another's
// wait judges its replies by its own request.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <functional>

#include "modbus/crc16.h"
#include "modbus/readframes.h"

namespace meterlog {

struct Exchange
{
    QByteArray frame; // as it goes on the link
    // How many more bytes must come before the reply can be judged; 0 when it can be now.
    std::function<int(QByteArrayView received)> bytesStillNeeded;
    std::function<ReplyCheck(QByteArrayView received)> check;
};

class Framing
{
public:
    virtual ~Framing() = default;
    virtual Exchange exchange(const ReadRequest &request) = 0;
};

// Where the frames go. A gateway answers exception 0B for a meter behind it that gave no usable
// reply: no reply came, which its framing reads as such.
enum class FramePath { SerialLine, Gateway };

// RTU frames with their CRC from the window's checksum routine. On a serial line some adapters
// hear their own request and put a copy of it before the reply, which is skipped. Behind a
// transparent gateway no copy comes.
class RtuFraming : public Framing
{
public:
    RtuFraming(CrcRoutine &crc, FramePath path);
    Exchange exchange(const ReadRequest &request) override;

private:
    CrcRoutine &m_crc;
    FramePath m_path;
};

// MBAP frames to a gateway, each request with a transaction id of its own.
class MbapFraming : public Framing
{
public:
    Exchange exchange(const ReadRequest &request) override;

private:
    std::uint16_t m_nextTransaction = 1;
};

} // namespace meterlog

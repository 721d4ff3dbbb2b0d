#include "tests/support/scriptedmeter.h"

#include "tests/support/pseudoterminal.h"

#include <unistd.h>

namespace {
constexpr int requestLength = 8;
}

ScriptedMeter::ScriptedMeter(PseudoTerminal &line, Script script)
    : m_line(line)
    , m_script(std::move(script))
    , m_notifier(line.lineFd(), QSocketNotifier::Read)
{
    connect(&m_notifier, &QSocketNotifier::activated, this, &ScriptedMeter::onReadable);
}

void ScriptedMeter::clearHistory()
{
    m_received.clear();
    m_requests.clear();
}

void ScriptedMeter::onReadable()
{
    char chunk[512];
    const auto got = ::read(m_line.lineFd(), chunk, sizeof chunk);
    if (got <= 0) {
        // The line is gone; stop listening rather than wake up for ever.
        m_notifier.setEnabled(false);
        return;
    }
    m_received.append(chunk, got);
    m_pending.append(chunk, got);
    while (m_pending.size() >= requestLength) {
        const auto request = m_pending.left(requestLength);
        m_pending.remove(0, requestLength);
        m_requests.append(request);
        emit requestArrived(request);
        m_line.send(m_script(request));
    }
}

QByteArray withCrc(QByteArray frame)
{
    quint16 crc = 0xFFFF;
    for (const char byte : frame) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray normalReply(quint8 device, const QList<quint16> &words)
{
    QByteArray frame;
    frame.append(char(device));
    frame.append(char(3));
    frame.append(char(2 * words.size()));
    for (const auto word : words) {
        frame.append(char(word >> 8));
        frame.append(char(word & 0xFF));
    }
    return withCrc(frame);
}

QByteArray exceptionReply(quint8 device, quint8 code)
{
    QByteArray frame;
    frame.append(char(device));
    frame.append(char(0x83));
    frame.append(char(code));
    return withCrc(frame);
}

QList<quint16> deviceCodedWords(int device, int count)
{
    QList<quint16> words;
    for (int r = 0; r < count; ++r)
        words.append(quint16(device * 1000 + r));
    return words;
}

QByteArray deviceCodedReply(const QByteArray &request)
{
    const auto device = quint8(request[0]);
    return normalReply(device, deviceCodedWords(device, quint8(request[5])));
}

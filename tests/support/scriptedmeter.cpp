#include "tests/support/scriptedmeter.h"

#include <QTest>

#include "tests/support/pseudoterminal.h"

#include <algorithm>
#include <unistd.h>

namespace {

constexpr int requestLength = 8;
// Nothing a Modbus master sends; readable in a failing test's output.
const QByteArray lineMarker = QByteArrayLiteral("<scripted meter's line marker>");

// How many of the last bytes of `bytes` could be the start of a marker still arriving.
qsizetype markerStartAtTheEnd(const QByteArray &bytes)
{
    for (auto length = std::min(bytes.size(), lineMarker.size() - 1); length > 0; --length) {
        if (lineMarker.startsWith(bytes.right(length)))
            return length;
    }
    return 0;
}

} // namespace

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

bool ScriptedMeter::readUpToLineMarker()
{
    if (!m_line.sendFromDeviceEnd(lineMarker))
        return false;
    const int sent = ++m_markersSent;
    return QTest::qWaitFor([&] { return m_markersRead >= sent; });
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
    m_unsorted.append(chunk, got);
    qsizetype marker = 0;
    while ((marker = m_unsorted.indexOf(lineMarker)) >= 0) {
        take(m_unsorted.left(marker));
        m_unsorted.remove(0, marker + lineMarker.size());
        ++m_markersRead;
    }
    // While a marker is on its way, its first bytes may have come without the rest. The
    // program's own bytes are never held back otherwise: it may be waiting for an answer.
    const auto held = m_markersRead < m_markersSent ? markerStartAtTheEnd(m_unsorted) : 0;
    take(m_unsorted.left(m_unsorted.size() - held));
    m_unsorted.remove(0, m_unsorted.size() - held);
}

void ScriptedMeter::take(const QByteArray &bytes)
{
    m_received.append(bytes);
    m_pending.append(bytes);
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

QByteArray normalReply(quint8 device, const QList<quint16> &words, quint8 function)
{
    QByteArray frame;
    frame.append(char(device));
    frame.append(char(function));
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

// What the scan cycle reads from the window and shows in it, and what the window tells those who
// publish its readings.

#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>

#include "app/form1.h"
#include "table/registergrid.h"

namespace meterlog {

namespace {

// Window colours are packed as 0x00BBGGRR.
QColor fromPackedColour(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int(bgr >> 8 & 0xFF), int(bgr >> 16 & 0xFF));
}

QColor markColour(SlotMark mark)
{
    switch (mark) {
    case SlotMark::Asking:
        return fromPackedColour(0x80FF80); // light green
    case SlotMark::Failed:
        return fromPackedColour(0x0000FF); // red
    case SlotMark::Done:
        return fromPackedColour(0x004000); // dark green
    }
    return {};
}

} // namespace

bool Form1::slotTicked(int slot) const
{
    return cheAID[slot]->checkState() == Qt::Checked;
}

QString Form1::deviceAddressText(int slot) const
{
    return txtaID[slot]->text();
}

QString Form1::startAddressText() const
{
    return txt_addr->text();
}

QString Form1::registerCountText() const
{
    return txt_jumlahData->text();
}

void Form1::showSlotMark(int slot, SlotMark mark)
{
    cheAID[slot]->setBackColour(markColour(mark));
}

void Form1::storeRegisters(int slot, const ReadRequest &request, const QList<std::uint16_t> &words)
{
    // Register r goes to row r; rows past the grid's last are not there to take a word.
    for (int r = 0; r < words.size(); ++r)
        tabel->setCellText(r + 1, RegisterGrid::firstSlotColumn + slot, registerText(words[r]));
    if (isSignalConnected(QMetaMethod::fromSignal(&Form1::registersRead))) {
        emit registersRead(RegisterBlock {
            slot, request.device, request.startAddress, words, QDateTime::currentDateTimeUtc()});
    }
}

void Form1::reportSlot(int slot, const SlotReport &report)
{
    // UTC: the local time would ask for the time zone's file at every slot.
    m_health.record(slot, report, QDateTime::currentDateTimeUtc());
    m_meterWatch.record(slot, report, m_start.replyLimit);

    // Values that the last scan could not confirm look stale, down to the labels made of them.
    const bool stale = m_health.isStale(slot);
    const int column = RegisterGrid::firstSlotColumn + slot;
    tabel->setColumnStale(column, stale);
    showStaleness(lbkw[slot], stale);
    if (slot == frequencySlot)
        showStaleness(lbfreq, stale);
}

QString Form1::slotDescription(int slot) const
{
    const QString health = m_health.describe(slot, txtaID[slot]->text());
    const auto *type = m_typed.typeOf(slot);
    if (!type)
        return health;
    return QStringLiteral("%1\nType %2 (%3): %4")
        .arg(health, type->name, type->description, readingPlan(*type));
}

void Form1::storeTypedWords(int slot, const QList<QList<std::uint16_t>> &blocks)
{
    m_typed.store(slot, blocks, QDateTime::currentDateTimeUtc());
}

void Form1::showStaleness(QLabel *label, bool stale)
{
    if (stale == (label->palette().color(QPalette::WindowText) == QColor(Qt::gray)))
        return;
    if (!stale) {
        // Back to the colours the label inherits.
        label->setPalette(QPalette());
        return;
    }
    auto palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::gray);
    label->setPalette(palette);
}

Reading Form1::currentReading() const
{
    Reading reading;
    // UTC: the local time would ask for the time zone's file at every tick.
    reading.at = QDateTime::currentDateTimeUtc();
    reading.frequency = lbfreq->text();
    for (int meter = 0; meter < slotCount; ++meter) {
        reading.kilowatts[meter] = lbkw[meter]->text();
        reading.meters[meter] = m_health.counters(meter);
        reading.polled[meter] = slotTicked(meter);
        const auto *type = m_typed.typeOf(meter);
        if (type && slotTicked(meter)) {
            // Every field, so that the history's columns do not hang on which meters answered.
            const auto &decoded = m_typed.decoded(meter);
            MeterFields fields {decoded ? decoded->at : QDateTime(), {}};
            for (int i = 0; i < type->fields.size(); ++i) {
                fields.values << FieldValue {
                    type->fields[i].name, decoded ? decoded->values.value(i) : std::nullopt};
            }
            reading.fields[meter] = fields;
        }
    }
    reading.snapshotLine = txtPrint->text();
    return reading;
}

} // namespace meterlog

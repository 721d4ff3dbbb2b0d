// What the scan cycle reads from the window and shows in it, and what the window tells those who
// publish its readings.

#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>

#include "app/form1.h"
#include "common/logcategories.h"
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

// The meters beyond the slots have no boxes: they are always asked, at their own address.
bool Form1::slotTicked(int slot) const
{
    return slot >= slotCount || cheAID[slot]->checkState() == Qt::Checked;
}

bool Form1::slotDue(int slot)
{
    return m_pacing.due(slot, MeterPacing::Clock::now());
}

QString Form1::deviceAddressText(int slot) const
{
    return slot < slotCount ? txtaID[slot]->text()
                            : QString::number(m_start.beyondSlots.at(slot - slotCount).address);
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
    if (slot >= slotCount)
        return;
    cheAID[slot]->setBackColour(markColour(mark));
}

void Form1::storeRegisters(int slot, const ReadRequest &request, const QList<std::uint16_t> &words)
{
    // Register r goes to row r; rows past the grid's last are not there to take a word, and
    // meters beyond the slots have no column.
    for (int r = 0; slot < slotCount && r < words.size(); ++r)
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
    const auto limit = replyLimit(slot).value_or(m_start.replyLimit);
    m_meterWatch.record(slot, report, limit);
    if (m_pacing.record(slot, report.outcome, MeterPacing::Clock::now())) {
        qCWarning(lcScan).noquote()
            << QStringLiteral("%1 (address %2) has not answered %3 scans in a row: asked every "
                              "2nd scan from now on, less often while it stays silent, at "
                              "least once a minute")
                   .arg(labelOf(m_start, slot).name)
                   .arg(report.device.value_or(0))
                   .arg(MeterPacing::silentScansBeforeRest);
    }

    // Values that the last scan could not confirm look stale, down to the labels made of them.
    if (slot >= slotCount)
        return;
    const bool stale = m_health.isStale(slot);
    const int column = RegisterGrid::firstSlotColumn + slot;
    tabel->setColumnStale(column, stale);
    showStaleness(lbkw[slot], stale);
    if (slot == m_typed.lineFrequencySlot())
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
    reading.frequencySlot = m_typed.lineFrequencySlot();
    const int meters = m_typed.meterCount();
    reading.meters.resize(std::size_t(meters));
    reading.polled.resize(std::size_t(meters));
    reading.fields.resize(std::size_t(meters));
    reading.labels = meterLabels(m_start);
    for (int meter = 0; meter < slotCount; ++meter)
        reading.kilowatts[meter] = lbkw[meter]->text();
    for (int meter = 0; meter < meters; ++meter) {
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
    reading.line = m_lineHealth;
    reading.line.linkUp = m_links.link().isOpen();
    return reading;
}

} // namespace meterlog

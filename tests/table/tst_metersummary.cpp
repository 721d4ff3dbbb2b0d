#include <QTest>

#include "common/numberreading.h"
#include "table/metersummary.h"
#include "table/registergrid.h"

using namespace meterlog;

namespace {

const MeterCaptions designCaptions {"0", {"0", "0", "0", "0", "0"}};

void putWords(RegisterGrid &grid, int slot, const QString &high, const QString &low)
{
    grid.setCellText(kilowattHighRow, RegisterGrid::firstSlotColumn + slot, high);
    grid.setCellText(kilowattLowRow, RegisterGrid::firstSlotColumn + slot, low);
}

} // namespace

class MeterSummaryTest : public QObject
{
    Q_OBJECT

private slots:
    void emptyGridGivesEmptyFrequencyAndKeepsTheKilowatts();
    void kilowattsAreHighTimes65536PlusLow_data();
    void kilowattsAreHighTimes65536PlusLow();
    void frequencyIsTheCellTextUnchanged();
    void aBadSlotKeepsOnlyItsOwnCaption();
};

void MeterSummaryTest::emptyGridGivesEmptyFrequencyAndKeepsTheKilowatts()
{
    RegisterGrid grid;
    const auto captions = summarize(grid, TypedMeters(), designCaptions);
    QCOMPARE(captions.frequency, QString());
    QCOMPARE(snapshotLine(captions), QStringLiteral(",0,0,0,0,0"));
}

void MeterSummaryTest::kilowattsAreHighTimes65536PlusLow_data()
{
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("kilowatts");
    const auto row = [](const char *name, const char *high, const char *low, const char *kW) {
        QTest::newRow(name) << QString(high) << QString(low) << QString(kW);
    };
    row("1 and 2", " 1", " 2", "65538");
    row("both 65535", " 65535", " 65535", "4294967295");
    row("both 0", " 0", " 0", "0");
    row("low only", " 0", " 5000", "5000");
    row("empty high", "", " 2", "");
    row("letters", " 1", "x", "");
}

void MeterSummaryTest::kilowattsAreHighTimes65536PlusLow()
{
    QFETCH(QString, high);
    QFETCH(QString, low);
    QFETCH(QString, kilowatts);
    const auto text = kilowattText(high, low);
    QCOMPARE(text.has_value(), !kilowatts.isEmpty());
    if (text)
        QCOMPARE(*text, kilowatts);
}

void MeterSummaryTest::frequencyIsTheCellTextUnchanged()
{
    RegisterGrid grid;
    // Default meters give the frequency in their fifth slot.
    grid.setCellText(frequencyRow, RegisterGrid::firstSlotColumn + 4, " 5000");
    putWords(grid, 0, " 1", " 2");
    const auto captions = summarize(grid, TypedMeters(), designCaptions);
    QCOMPARE(captions.frequency, QStringLiteral(" 5000"));
    QCOMPARE(snapshotLine(captions), QStringLiteral(" 5000,65538,0,0,0,0"));
}

void MeterSummaryTest::aBadSlotKeepsOnlyItsOwnCaption()
{
    RegisterGrid grid;
    for (int slot = 0; slot < slotCount; ++slot)
        putWords(grid, slot, " 0", QStringLiteral(" %1").arg(slot + 10));
    putWords(grid, 2, " 0", "not a number");
    const MeterCaptions shown {"", {"1", "2", "3", "4", "5"}};
    const auto captions = summarize(grid, TypedMeters(), shown);
    QCOMPARE(captions.kilowatts, (std::array<QString, slotCount> {"10", "11", "3", "13", "14"}));
}

QTEST_MAIN(MeterSummaryTest)
#include "tst_metersummary.moc"

// Values laid out in registers: every data type in every byte order, read back exactly.

#include <QTest>

#include <cmath>

#include "meters/registervalue.h"

using namespace meterlog;

Q_DECLARE_METATYPE(meterlog::RawValue)

namespace {

QList<std::uint16_t> wordsOf(const char *hex)
{
    QList<std::uint16_t> words;
    for (const auto &word : QByteArray(hex).split(' '))
        words << std::uint16_t(word.toUInt(nullptr, 16));
    return words;
}

} // namespace

class RegisterValueTest : public QObject
{
    Q_OBJECT

private slots:
    void everyTypeInEveryOrder_data();
    void everyTypeInEveryOrder();
    void floatsThatNoMeterMeasuredAreNoNumber();
    void namesOfTypesAndOrders();
};

void RegisterValueTest::everyTypeInEveryOrder_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("registers");
    QTest::addColumn<RawValue>("expected");
    // The registers are pymodbus's (BinaryPayloadBuilder, byte order and word order big or
    // little), not our own encoder's.
    struct Row
    {
        const char *type;
        RawValue value;
        const char *abcd, *cdab, *badc, *dcba;
    };
    const Row rows[] {
        {"u16", std::uint64_t(51234), "c822", "c822", "22c8", "22c8"},
        {"i16", std::int64_t(-1234), "fb2e", "fb2e", "2efb", "2efb"},
        {"u32", std::uint64_t(3000000123), "b2d0 5e7b", "5e7b b2d0", "d0b2 7b5e", "7b5e d0b2"},
        {"i32", std::int64_t(-123456789), "f8a4 32eb", "32eb f8a4", "a4f8 eb32", "eb32 a4f8"},
        {"u64", std::uint64_t(12345678901234567890u), "ab54 a98c eb1f 0ad2", "0ad2 eb1f a98c ab54",
            "54ab 8ca9 1feb d20a", "d20a 1feb 8ca9 54ab"},
        {"i64", std::int64_t(-1234567890123456789), "eedd ef0b 8216 7eeb", "7eeb 8216 ef0b eedd",
            "ddee 0bef 1682 eb7e", "eb7e 1682 0bef ddee"},
        {"f32", 230.5, "4366 8000", "8000 4366", "6643 0080", "0080 6643"},
        {"f64", -12345.678, "c0c8 1cd6 c8b4 3958", "3958 c8b4 1cd6 c0c8", "c8c0 d61c b4c8 5839",
            "5839 b4c8 d61c c8c0"},
    };
    for (const auto &row : rows) {
        const std::pair<const char *, const char *> orders[] {
            {"abcd", row.abcd}, {"cdab", row.cdab}, {"badc", row.badc}, {"dcba", row.dcba}};
        for (const auto &[order, registers] : orders) {
            QTest::addRow("%s %s", row.type, order) << row.type << order << registers << row.value;
        }
    }
}

void RegisterValueTest::everyTypeInEveryOrder()
{
    QFETCH(QString, type);
    QFETCH(QString, order);
    QFETCH(QString, registers);
    QFETCH(RawValue, expected);
    const auto dataType = dataTypeNamed(type);
    const auto wordOrder = wordOrderNamed(order);
    QVERIFY(dataType && wordOrder);
    const auto words = wordsOf(qPrintable(registers));
    QCOMPARE(words.size(), registersOf(*dataType));
    const RawValue raw = readRaw(words, *dataType, *wordOrder);
    QCOMPARE(raw.index(), expected.index());
    QVERIFY(raw == expected);
}

void RegisterValueTest::floatsThatNoMeterMeasuredAreNoNumber()
{
    // NaN and both infinities, as f32 and f64; the largest finite f32 is a number.
    for (const char *registers : {"7fc0 0000", "7f80 0000", "ff80 0000"})
        QCOMPARE(
            numberOf(readRaw(wordsOf(registers), DataType::F32, WordOrder::Abcd)), std::nullopt);
    QCOMPARE(numberOf(readRaw(wordsOf("7ff8 0000 0000 0000"), DataType::F64, WordOrder::Abcd)),
        std::nullopt);
    // A float is the number it was written as, not its binary neighbour: 49.98, not 49.9799995.
    QCOMPARE(numberOf(readRaw(wordsOf("4247 eb85"), DataType::F32, WordOrder::Abcd)),
        std::optional<double>(49.98));
    const auto largest = numberOf(readRaw(wordsOf("7f7f ffff"), DataType::F32, WordOrder::Abcd));
    QVERIFY(largest && std::isfinite(*largest) && *largest > 3.4e38);
}

void RegisterValueTest::namesOfTypesAndOrders()
{
    for (const char *unknown : {"", "U16", "u8", "float", "f16"})
        QVERIFY2(!dataTypeNamed(unknown), unknown);
    for (const char *unknown : {"", "ABCD", "abdc", "ba"})
        QVERIFY2(!wordOrderNamed(unknown), unknown);
}

QTEST_APPLESS_MAIN(RegisterValueTest)
#include "tst_registervalue.moc"

#include <QTest>

#include "common/numberreading.h"

using namespace meterlog;

class NumberReadingTest : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumberNeverFails_data();
    void leadingNumberNeverFails();
    void wholeTextMustBeANumber_data();
    void wholeTextMustBeANumber();
    void roundsHalvesToEven_data();
    void roundsHalvesToEven();
    void rangeChecksFailInsteadOfWrapping();
    void wholeNumbersPrintAsPlainDigits();
};

void NumberReadingTest::leadingNumberNeverFails_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "4011" << 4011.0;
    QTest::newRow("fraction") << "12.5" << 12.5;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("trailing letters") << "12abc" << 12.0;
    QTest::newRow("blanks anywhere") << "  1 2\t3 " << 123.0;
    QTest::newRow("sign and blanks") << " - 4 0" << -40.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("exponent") << "1.5e3" << 1500.0;
    QTest::newRow("exponent with blanks") << "2 E - 2" << 0.02;
    QTest::newRow("dangling exponent") << "12e" << 12.0;
    QTest::newRow("dangling exponent sign") << "12e+x" << 12.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("comma stops") << "1,5" << 1.0;
    QTest::newRow("non-ASCII digits are no digits") << "\u0661\u0662" << 0.0;
    QTest::newRow("tiny underflows to 0") << "1e-400" << 0.0;
    QTest::newRow("tiny mantissa underflows to 0") << "0.0000e-99999999999999999999" << 0.0;
}

void NumberReadingTest::leadingNumberNeverFails()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(readLeadingNumber(text), value);
}

void NumberReadingTest::wholeTextMustBeANumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "9" << true << 9.0;
    QTest::newRow("blanks around") << "  3 " << true << 3.0;
    QTest::newRow("sign") << "-2" << true << -2.0;
    QTest::newRow("fraction") << "4.5" << true << 4.5;
    QTest::newRow("register cell") << " 5000" << true << 5000.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blanks only") << "   " << false << 0.0;
    QTest::newRow("letters") << "x" << false << 0.0;
    QTest::newRow("trailing letters") << "12abc" << false << 0.0;
    QTest::newRow("inner blank") << "1 2" << false << 0.0;
    QTest::newRow("blank after sign") << "- 5" << false << 0.0;
    QTest::newRow("exponent") << "1e3" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
}

void NumberReadingTest::wholeTextMustBeANumber()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    const auto read = readWholeNumber(text);
    QCOMPARE(read.has_value(), valid);
    if (valid)
        QCOMPARE(*read, value);
}

void NumberReadingTest::roundsHalvesToEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("whole");
    QTest::newRow("12.5") << 12.5 << qint64(12);
    QTest::newRow("13.5") << 13.5 << qint64(14);
    QTest::newRow("4011.5") << 4011.5 << qint64(4012);
    QTest::newRow("4010.5") << 4010.5 << qint64(4010);
    QTest::newRow("0.5") << 0.5 << qint64(0);
    QTest::newRow("-0.5") << -0.5 << qint64(0);
    QTest::newRow("-1.5") << -1.5 << qint64(-2);
    QTest::newRow("-2.5") << -2.5 << qint64(-2);
    QTest::newRow("2.4999") << 2.4999 << qint64(2);
    QTest::newRow("2.5001") << 2.5001 << qint64(3);
}

void NumberReadingTest::roundsHalvesToEven()
{
    QFETCH(double, value);
    QFETCH(qint64, whole);
    QCOMPARE(roundHalfToEven(value), std::optional<std::int64_t>(whole));
}

void NumberReadingTest::rangeChecksFailInsteadOfWrapping()
{
    QCOMPARE(toWhole<std::uint8_t>(255.4), std::optional<std::uint8_t>(255));
    QCOMPARE(toWhole<std::uint8_t>(255.5), std::nullopt);
    QCOMPARE(toWhole<std::uint8_t>(-0.5), std::optional<std::uint8_t>(0));
    QCOMPARE(toWhole<std::uint8_t>(-0.51), std::nullopt);
    QCOMPARE(toWhole<std::int16_t>(32767.0), std::optional<std::int16_t>(32767));
    QCOMPARE(toWhole<std::int16_t>(32768.0), std::nullopt);
    QCOMPARE(toWhole<std::int16_t>(-32768.0), std::optional<std::int16_t>(-32768));
    QCOMPARE(toWhole<std::int32_t>(2147483648.0), std::nullopt);
    QCOMPARE(toWhole<std::int32_t>(-2147483648.0), std::optional<std::int32_t>(INT32_MIN));
    QCOMPARE(toWhole<std::int32_t>(readLeadingNumber(u"1e400")), std::nullopt);
    QCOMPARE(toWhole<std::int32_t>(std::nan("")), std::nullopt);
    QCOMPARE(toWhole<std::int64_t>(1e19), std::nullopt);
}

void NumberReadingTest::wholeNumbersPrintAsPlainDigits()
{
    QCOMPARE(plainNumberText(44011), QStringLiteral("44011"));
    QCOMPARE(plainNumberText(4294967295.0), QStringLiteral("4294967295"));
    QCOMPARE(plainNumberText(0), QStringLiteral("0"));
}

QTEST_APPLESS_MAIN(NumberReadingTest)
#include "tst_numberreading.moc"

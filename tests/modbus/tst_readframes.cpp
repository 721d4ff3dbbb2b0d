#include <QTest>

#include "readframes.h"
#include "scancycle.h"
#include "scriptedmeter.h"

using namespace meterlog;

Q_DECLARE_METATYPE(meterlog::ReplyVerdict)

class ReadFramesTest : public QObject
{
    Q_OBJECT

private slots:
    void requestBodyFromTexts_data();
    void requestBodyFromTexts();
    void textsThatDescribeNoRequest_data();
    void textsThatDescribeNoRequest();
    void replyVerdicts_data();
    void replyVerdicts();
    void verifiedReplyGivesUnsignedWords();
    void completeWhenFullOrException();

private:
    const CrcTable m_table = makeCrcTable();
};

void ReadFramesTest::requestBodyFromTexts_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QByteArray>("body");
    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    QTest::newRow("defaults") << "1"
                              << "4011"
                              << "12" << hex("01030FAB000C");
    QTest::newRow("device 2 at 0, count 2") << "2"
                                            << "0"
                                            << "2" << hex("020300000002");
    QTest::newRow("count 0") << "1"
                             << "4011"
                             << "0" << hex("01030FAB0000");
    QTest::newRow("count 12.5") << "1"
                                << "4011"
                                << "12.5" << hex("01030FAB000C");
    QTest::newRow("count 13.5") << "1"
                                << "4011"
                                << "13.5" << hex("01030FAB000E");
    QTest::newRow("count abc reads 0") << "1"
                                       << "4011"
                                       << "abc" << hex("01030FAB0000");
    QTest::newRow("count 255") << "1"
                               << "4011"
                               << "255" << hex("01030FAB00FF");
    QTest::newRow("address 4011.5") << "1"
                                    << "4011.5"
                                    << "12" << hex("01030FAC000C");
    QTest::newRow("address 4010.5") << "1"
                                    << "4010.5"
                                    << "12" << hex("01030FAA000C");
    QTest::newRow("address 65535") << "1"
                                   << "65535"
                                   << "12" << hex("0103FFFF000C");
    QTest::newRow("address 256") << "1"
                                 << "256"
                                 << "12" << hex("01030100000C");
    QTest::newRow("address with letters after") << "1"
                                                << "40 11x"
                                                << "12" << hex("01030FAB000C");
    QTest::newRow("broadcast device 0") << "0"
                                        << "4011"
                                        << "12" << hex("00030FAB000C");
    QTest::newRow("device with blanks") << " 7 "
                                        << "4011"
                                        << "12" << hex("07030FAB000C");
}

void ReadFramesTest::requestBodyFromTexts()
{
    QFETCH(QString, device);
    QFETCH(QString, start);
    QFETCH(QString, count);
    QFETCH(QByteArray, body);
    const auto request = requestFromTexts(device, start, count);
    QVERIFY(request);
    QCOMPARE(requestBody(*request), body);
}

void ReadFramesTest::textsThatDescribeNoRequest_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    QTest::newRow("device x") << "x"
                              << "4011"
                              << "12";
    QTest::newRow("device 256") << "256"
                                << "4011"
                                << "12";
    QTest::newRow("device -1") << "-1"
                               << "4011"
                               << "12";
    QTest::newRow("device empty") << ""
                                  << "4011"
                                  << "12";
    QTest::newRow("count 300") << "1"
                               << "4011"
                               << "300";
    QTest::newRow("count -1") << "1"
                              << "4011"
                              << "-1";
    QTest::newRow("count 255.5") << "1"
                                 << "4011"
                                 << "255.5";
    QTest::newRow("address 65536") << "1"
                                   << "65536"
                                   << "12";
    QTest::newRow("address -1") << "1"
                                << "-1"
                                << "12";
    QTest::newRow("address -256") << "1"
                                  << "-256"
                                  << "12";
    QTest::newRow("address beyond 32 bits") << "1"
                                            << "1e12"
                                            << "12";
}

void ReadFramesTest::textsThatDescribeNoRequest()
{
    QFETCH(QString, device);
    QFETCH(QString, start);
    QFETCH(QString, count);
    QVERIFY(!requestFromTexts(device, start, count));
}

void ReadFramesTest::replyVerdicts_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<ReplyVerdict>("verdict");

    const auto good = normalReply(2, {5000, 65535});
    auto badCrc = good;
    badCrc[good.size() - 1] = char(good.back() ^ 0x01);
    auto flippedData = good;
    flippedData[4] = char(flippedData[4] ^ 0x10);

    QTest::newRow("good") << 2 << good << ReplyVerdict::Verified;
    QTest::newRow("good with noise after") << 2 << good + "\x55\xAA" << ReplyVerdict::Verified;
    QTest::newRow("nothing") << 2 << QByteArray() << ReplyVerdict::Short;
    QTest::newRow("cut after sixth byte") << 2 << good.left(6) << ReplyVerdict::Short;
    QTest::newRow("cut before the last byte") << 2 << good.chopped(1) << ReplyVerdict::Short;
    QTest::newRow("wrong crc") << 2 << badCrc << ReplyVerdict::BadCrc;
    QTest::newRow("flipped data bit") << 2 << flippedData << ReplyVerdict::BadCrc;
    QTest::newRow("another device")
        << 2 << normalReply(3, {5000, 65535}) << ReplyVerdict::ForeignDevice;
    QTest::newRow("exception 02") << 2 << QByteArray::fromHex("02830230F1")
                                  << ReplyVerdict::Exception;
    QTest::newRow("another device's exception")
        << 2 << exceptionReply(4, 2) << ReplyVerdict::ForeignDevice;
    // A shorter frame followed by two zero bytes passes the CRC check (the CRC over a frame
    // and its own CRC is zero); the byte count gives it away.
    QTest::newRow("fewer words than asked")
        << 2 << normalReply(2, {5000}) + QByteArray(2, '\0') << ReplyVerdict::Malformed;
    QTest::newRow("byte count wrong")
        << 1 << withCrc(QByteArray::fromHex("020304AABB")) << ReplyVerdict::Malformed;
    QTest::newRow("other function")
        << 1 << withCrc(QByteArray::fromHex("020402AABB")) << ReplyVerdict::Malformed;
    QTest::newRow("count 0 answered")
        << 0 << withCrc(QByteArray::fromHex("020300")) << ReplyVerdict::Verified;
}

void ReadFramesTest::replyVerdicts()
{
    QFETCH(int, count);
    QFETCH(QByteArray, reply);
    QFETCH(ReplyVerdict, verdict);
    const ReadRequest request {2, 0, std::uint8_t(count)};
    const auto check = checkReadReply(m_table, request, reply);
    QCOMPARE(check.verdict, verdict);
    if (verdict != ReplyVerdict::Verified)
        QVERIFY(check.registers.isEmpty());
}

void ReadFramesTest::verifiedReplyGivesUnsignedWords()
{
    const ReadRequest request {2, 0, 3};
    const auto check = checkReadReply(m_table, request, normalReply(2, {5000, 65535, 0x8000}));
    QCOMPARE(check.verdict, ReplyVerdict::Verified);
    QCOMPARE(check.registers, (QList<std::uint16_t> {5000, 65535, 32768}));

    const auto exception = checkReadReply(m_table, request, exceptionReply(2, 2));
    QCOMPARE(exception.verdict, ReplyVerdict::Exception);
    QCOMPARE(int(exception.exceptionCode), 2);
}

void ReadFramesTest::completeWhenFullOrException()
{
    const ReadRequest request {1, 4011, 12};
    const auto reply = normalReply(1, QList<quint16>(12, 7));
    QCOMPARE(reply.size(), replyLength(12));
    QVERIFY(!isReplyComplete(m_table, request, reply.chopped(1)));
    QVERIFY(isReplyComplete(m_table, request, reply));
    QVERIFY(isReplyComplete(m_table, request, exceptionReply(1, 2)));
    // Five bytes that only look like an exception reply leave the wait running.
    QVERIFY(!isReplyComplete(m_table, request, QByteArray::fromHex("0183020000")));
}

QTEST_APPLESS_MAIN(ReadFramesTest)
#include "tst_readframes.moc"

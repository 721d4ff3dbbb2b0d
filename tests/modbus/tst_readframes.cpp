#include <QTest>

#include "modbus/mbapframes.h"
#include "modbus/readframes.h"
#include "modbus/requesttexts.h"
#include "tests/support/scriptedmeter.h"

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
    void inputRegistersAreAskedAndAnsweredWithFunctionFour();
    void completeWhenFullOrException();
    void bytesStillNeededUntilAVerdict_data();
    void bytesStillNeededUntilAVerdict();
    void broadcastIsNeverAnswered();
    void mbapRequestFrame();
    void mbapReplyVerdicts_data();
    void mbapReplyVerdicts();

private:
    const CrcTable m_table = makeCrcTable();
};

void ReadFramesTest::requestBodyFromTexts_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QByteArray>("body");
    const auto row = [](const char *name, const char *device, const char *start, const char *count,
                         const char *body) {
        QTest::newRow(name) << QString(device) << QString(start) << QString(count)
                            << QByteArray::fromHex(body);
    };
    row("defaults", "1", "4011", "12", "01030FAB000C");
    row("device 2 at 0, count 2", "2", "0", "2", "020300000002");
    row("count 0", "1", "4011", "0", "01030FAB0000");
    row("count 12.5", "1", "4011", "12.5", "01030FAB000C");
    row("count 13.5", "1", "4011", "13.5", "01030FAB000E");
    row("count abc reads 0", "1", "4011", "abc", "01030FAB0000");
    row("count 255", "1", "4011", "255", "01030FAB00FF");
    row("address 4011.5", "1", "4011.5", "12", "01030FAC000C");
    row("address 4010.5", "1", "4010.5", "12", "01030FAA000C");
    row("address 65535", "1", "65535", "12", "0103FFFF000C");
    row("address 256", "1", "256", "12", "01030100000C");
    row("address with letters after", "1", "40 11x", "12", "01030FAB000C");
    row("broadcast device 0", "0", "4011", "12", "00030FAB000C");
    row("device with blanks", " 7 ", "4011", "12", "07030FAB000C");
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
    const auto row
        = [](const char *name, const char *device, const char *start, const char *count) {
              QTest::newRow(name) << QString(device) << QString(start) << QString(count);
          };
    row("device x", "x", "4011", "12");
    row("device 256", "256", "4011", "12");
    row("device -1", "-1", "4011", "12");
    row("device empty", "", "4011", "12");
    row("count 300", "1", "4011", "300");
    row("count -1", "1", "4011", "-1");
    row("count 255.5", "1", "4011", "255.5");
    row("address 65536", "1", "65536", "12");
    row("address -1", "1", "-1", "12");
    row("address -256", "1", "-256", "12");
    row("address beyond 32 bits", "1", "1e12", "12");
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

void ReadFramesTest::inputRegistersAreAskedAndAnsweredWithFunctionFour()
{
    ReadRequest request {2, 0, 1};
    request.function = readInputRegisters;
    QCOMPARE(requestBody(request), QByteArray::fromHex("020400000001"));
    const auto verdictOf = [&](const char *hex) {
        return checkReadReply(m_table, request, withCrc(QByteArray::fromHex(hex))).verdict;
    };
    QCOMPARE(verdictOf("020402AABB"), ReplyVerdict::Verified);
    // A holding-register answer is no answer to this request, nor is its exception one.
    QCOMPARE(verdictOf("020302AABB"), ReplyVerdict::Malformed);
    QCOMPARE(verdictOf("028302"), ReplyVerdict::Short);
    QCOMPARE(verdictOf("028402"), ReplyVerdict::Exception);
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

void ReadFramesTest::bytesStillNeededUntilAVerdict_data()
{
    // Device 1, 12 registers from 4011: a response is 29 bytes, an exception reply 5, and an
    // echoing adapter's copy of the 8-byte request may come first.
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("needed");
    const QByteArray request = QByteArray::fromHex("01030FAB000C373B");
    const auto reply = normalReply(1, QList<quint16>(12, 7));
    QTest::newRow("nothing yet") << QByteArray() << 5;
    QTest::newRow("two bytes, echo or reply") << request.left(2) << 3;
    QTest::newRow("six bytes of the echo") << request.left(6) << 7;
    QTest::newRow("the whole echo") << request << 5;
    QTest::newRow("echo and five bytes of the reply") << request + reply.left(5) << 24;
    QTest::newRow("five bytes of the reply") << reply.left(5) << 24;
    QTest::newRow("all but one") << reply.chopped(1) << 1;
    QTest::newRow("complete") << reply << 0;
    QTest::newRow("echo and complete") << request + reply << 0;
    QTest::newRow("exception reply") << exceptionReply(1, 2) << 0;
    QTest::newRow("five bytes that are no exception") << QByteArray::fromHex("0183020000") << 24;
}

void ReadFramesTest::bytesStillNeededUntilAVerdict()
{
    QFETCH(QByteArray, received);
    QFETCH(int, needed);
    const ReadRequest request {1, 4011, 12};
    const auto frame = requestBody(request) + QByteArray::fromHex("373B");
    QCOMPARE(bytesStillNeeded(m_table, request, frame, received), needed);
}

void ReadFramesTest::broadcastIsNeverAnswered()
{
    const ReadRequest broadcast {0, 4011, 2};
    QCOMPARE(checkReadReply(m_table, broadcast, normalReply(0, {1, 2})).verdict,
        ReplyVerdict::Malformed);
}

void ReadFramesTest::mbapRequestFrame()
{
    // Transaction 1, protocol 0, six bytes follow: unit 1, function 3, 4011, 12.
    QCOMPARE(mbapRequest(1, ReadRequest {1, 4011, 12}),
        QByteArray::fromHex("000100000006"
                            "01"
                            "03"
                            "0FAB"
                            "000C"));
    QCOMPARE(mbapRequest(0xBEEF, ReadRequest {247, 0, 125}),
        QByteArray::fromHex("BEEF00000006"
                            "F7"
                            "03"
                            "0000"
                            "007D"));
}

void ReadFramesTest::mbapReplyVerdicts_data()
{
    // Transaction 0x0102 asks unit 5 for 2 registers from 0; frames are written out by hand.
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<ReplyVerdict>("verdict");
    QTest::addColumn<int>("needed");
    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    const QByteArray good = hex("0102"
                                "0000"
                                "0007"
                                "05"
                                "03"
                                "04"
                                "1388"
                                "FFFF");
    const QByteArray earlier = hex("0101"
                                   "0000"
                                   "0007"
                                   "05"
                                   "03"
                                   "04"
                                   "0001"
                                   "0002");
    QTest::newRow("good") << good << ReplyVerdict::Verified << 0;
    QTest::newRow("good, bytes after it") << good + hex("0000") << ReplyVerdict::Verified << 0;
    QTest::newRow("nothing") << QByteArray() << ReplyVerdict::Short << 7;
    QTest::newRow("the header") << good.left(7) << ReplyVerdict::Short << 6;
    QTest::newRow("all but one byte") << good.chopped(1) << ReplyVerdict::Short << 1;
    QTest::newRow("an earlier transaction's reply")
        << earlier << ReplyVerdict::Short << mbapHeaderLength;
    QTest::newRow("an earlier reply, then part of this one")
        << earlier + good.left(9) << ReplyVerdict::Short << 4;
    QTest::newRow("an earlier reply, then this one")
        << earlier + good << ReplyVerdict::Verified << 0;
    QTest::newRow("another protocol") << hex("0102"
                                             "0001"
                                             "0007"
                                             "05"
                                             "03"
                                             "04"
                                             "1388"
                                             "FFFF")
                                      << ReplyVerdict::Malformed << 0;
    QTest::newRow("length 0, no frame can follow") << hex("0102"
                                                          "0000"
                                                          "0000"
                                                          "05")
                                                   << ReplyVerdict::Malformed << 0;
    QTest::newRow("length past any frame") << hex("0102"
                                                  "0000"
                                                  "012C"
                                                  "05")
                                           << ReplyVerdict::Malformed << 0;
    QTest::newRow("another unit") << hex("0102"
                                         "0000"
                                         "0007"
                                         "06"
                                         "03"
                                         "04"
                                         "1388"
                                         "FFFF")
                                  << ReplyVerdict::ForeignDevice << 0;
    QTest::newRow("exception 02") << hex("0102"
                                         "0000"
                                         "0003"
                                         "05"
                                         "83"
                                         "02")
                                  << ReplyVerdict::Exception << 0;
    QTest::newRow("gateway exception 0B") << hex("0102"
                                                 "0000"
                                                 "0003"
                                                 "05"
                                                 "83"
                                                 "0B")
                                          << ReplyVerdict::Exception << 0;
    QTest::newRow("fewer words than asked") << hex("0102"
                                                   "0000"
                                                   "0005"
                                                   "05"
                                                   "03"
                                                   "02"
                                                   "1388")
                                            << ReplyVerdict::Malformed << 0;
    QTest::newRow("length longer than the words") << hex("0102"
                                                         "0000"
                                                         "0009"
                                                         "05"
                                                         "03"
                                                         "04"
                                                         "1388"
                                                         "FFFF"
                                                         "0000")
                                                  << ReplyVerdict::Malformed << 0;
    QTest::newRow("other function") << hex("0102"
                                           "0000"
                                           "0007"
                                           "05"
                                           "04"
                                           "04"
                                           "1388"
                                           "FFFF")
                                    << ReplyVerdict::Malformed << 0;
}

void ReadFramesTest::mbapReplyVerdicts()
{
    QFETCH(QByteArray, received);
    QFETCH(ReplyVerdict, verdict);
    QFETCH(int, needed);
    const ReadRequest request {5, 0, 2};
    QCOMPARE(mbapBytesStillNeeded(0x0102, received), needed);
    const auto check = checkMbapReply(0x0102, request, received);
    QCOMPARE(check.verdict, verdict);
    if (verdict == ReplyVerdict::Verified)
        QCOMPARE(check.registers, (QList<std::uint16_t> {5000, 65535}));
    else
        QVERIFY(check.registers.isEmpty());
    if (verdict == ReplyVerdict::Exception)
        QCOMPARE(int(check.exceptionCode), int(std::uint8_t(received.back())));
}

QTEST_APPLESS_MAIN(ReadFramesTest)
#include "tst_readframes.moc"

// Meter types: the built-in ones, type files that are wrong in every way a site could get one
// wrong, and fields decoded with their scale and "not available" marker.

#include <QTemporaryDir>
#include <QTest>

#include "meters/metertypefile.h"

using namespace meterlog;

namespace {

// A type file with one block and the field given.
QString typeWithField(const char *block, const char *field)
{
    return QStringLiteral("name = \"t\"\n[[block]]\n%1\n[[field]]\n%2\n").arg(block, field);
}

const char *oneBlock = "function = 4\nstart = 0\ncount = 10";

} // namespace

class MeterTypesTest : public QObject
{
    Q_OBJECT

private slots:
    void builtInTypes();
    void wrongTypeFilesAreRefusedWithLineAndReason_data();
    void wrongTypeFilesAreRefusedWithLineAndReason();
    void typeFoundByNameElseByPath();
    void fieldsDecodeWithScaleAndMarker();
};

void MeterTypesTest::builtInTypes()
{
    const auto types = builtInMeterTypes();
    QStringList names;
    for (const auto &type : types)
        names << type.name;
    QCOMPARE(names, QStringList({"default", "sdm120", "sdm630", "em24", "abb-b23"}));
    QVERIFY(types[0].followsWindow);
    for (const auto &type : types) {
        QVERIFY2(!type.description.isEmpty(), qPrintable(type.name));
        // Every type gives the quantities the summary and the readers look for.
        for (const char *shared : {"power", "frequency"})
            QVERIFY2(fieldNamed(type, shared), qPrintable(type.name + ": " + shared));
        if (!type.followsWindow) {
            QVERIFY2(fieldNamed(type, "energy_import"), qPrintable(type.name));
            QCOMPARE(fieldNamed(type, "power")->unit, QStringLiteral("W"));
            QCOMPARE(fieldNamed(type, "frequency")->unit, QStringLiteral("Hz"));
        }
    }
    // At least one model is read with function 3 as scaled 32-bit integers.
    const auto abb = std::get<MeterType>(findMeterType("abb-b23"));
    QCOMPARE(abb.blocks[fieldNamed(abb, "power")->block].function, std::uint8_t(3));
    QCOMPARE(fieldNamed(abb, "power")->type, DataType::I32);
}

void MeterTypesTest::wrongTypeFilesAreRefusedWithLineAndReason_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // the start of what follows "FILE:"
    const auto row = [](const char *name, const QString &text, const char *expected) {
        QTest::newRow(name) << text << QString::fromLatin1(expected);
    };
    const char *voltage = "name = \"voltage_l1\"\noffset = 0\ntype = \"f32\"";
    row("not TOML", "name = \"t\"\n[[block]\n", "2: ");
    row("unknown data type", typeWithField(oneBlock, "name = \"v\"\noffset = 0\ntype = \"f16\""),
        "9: unknown data type 'f16'");
    row("field outside its block",
        typeWithField(oneBlock, "name = \"v\"\noffset = 9\ntype = \"f32\""),
        "8: field v lies outside its block (10 registers)");
    row("block over 125 registers", typeWithField("function = 4\nstart = 0\ncount = 126", voltage),
        "5: a block is at most 125 registers");
    row("function 5", typeWithField("function = 5\nstart = 0\ncount = 10", voltage),
        "3: function must be 3 or 4");
    row("block past the last register",
        typeWithField("function = 3\nstart = 65530\ncount = 10", voltage),
        "2: the block runs past register 65535");
    row("unknown word order",
        typeWithField(oneBlock, "name = \"v\"\noffset = 0\ntype = \"f32\"\norder = \"bacd\""),
        "10: unknown word order");
    row("name not snake_case",
        typeWithField(oneBlock, "name = \"Voltage\"\noffset = 0\ntype = \"f32\""),
        "7: field name 'Voltage' is not snake_case");
    row("field named twice",
        typeWithField(oneBlock,
            "name = \"v\"\noffset = 0\ntype = \"u16\"\n[[field]]\nname = \"v\"\noffset = 1\ntype = "
            "\"u16\""),
        "10: field v is named twice");
    row("block that does not exist",
        typeWithField(oneBlock, "name = \"v\"\nblock = 1\noffset = 0\ntype = \"u16\""),
        "8: block must be a whole number from 0 to 0");
    row("marker of another type",
        typeWithField(oneBlock, "name = \"v\"\noffset = 0\ntype = \"u16\"\nnot_available = -1"),
        "10: not_available must be a value of the field's type");
    row("no block", "name = \"t\"\n[[field]]\nname = \"v\"\noffset = 0\ntype = \"u16\"\n",
        "the type has no [[block]]");
    row("no name", QStringLiteral("[[block]]\n%1\n").arg(oneBlock), "the type has no name");
    row("unknown key", QStringLiteral("name = \"t\"\nmodel = \"x\"\n"), "2: unknown key 'model'");
}

void MeterTypesTest::wrongTypeFilesAreRefusedWithLineAndReason()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const auto read = readMeterType(text, "site.toml");
    QVERIFY(std::holds_alternative<QString>(read));
    const auto &error = std::get<QString>(read);
    // A fault of the whole file has no line.
    const QString separator
        = expected.front().isDigit() ? QStringLiteral(":") : QStringLiteral(": ");
    QVERIFY2(error.startsWith("site.toml" + separator + expected), qPrintable(error));
}

void MeterTypesTest::typeFoundByNameElseByPath()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("sdm630.toml");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(typeWithField(oneBlock, "name = \"power\"\noffset = 2\ntype = \"f32\"").toUtf8());
    file.close();
    // A built-in name is the built-in type; a path is a file, whatever it is called.
    QCOMPARE(std::get<MeterType>(findMeterType("sdm630")).fields.size(), 18);
    QCOMPARE(std::get<MeterType>(findMeterType(path)).name, QStringLiteral("t"));
    const auto missing = findMeterType(folder.filePath("none.toml"));
    QVERIFY(std::get<QString>(missing).contains("no built-in type of that name"));
}

void MeterTypesTest::fieldsDecodeWithScaleAndMarker()
{
    const auto abb = std::get<MeterType>(findMeterType("abb-b23"));
    const auto &voltage = *fieldNamed(abb, "voltage_l1");
    // 2305 tenths of a volt; the marker is no value; a block cut short holds none.
    const std::uint16_t measured[] {0x0000, 0x0901};
    const std::uint16_t marked[] {0xFFFF, 0xFFFF};
    QCOMPARE(decodeField(voltage, measured), std::optional<double>(230.5));
    QCOMPARE(decodeField(voltage, marked), std::nullopt);
    QCOMPARE(decodeField(voltage, std::span(measured, 1)), std::nullopt);
    const auto &power = *fieldNamed(abb, "power");
    std::uint16_t words[60] {};
    words[power.offset] = 0xFFFF; // -1.5 W: -150 hundredths
    words[power.offset + 1] = 0xFF6A;
    QCOMPARE(decodeField(power, words), std::optional<double>(-1.5));
}

QTEST_GUILESS_MAIN(MeterTypesTest)
#include "tst_metertypes.moc"

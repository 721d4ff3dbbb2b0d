// Meter types: the built-in ones, type files that are wrong in every way a site could get one
// wrong, and fields decoded with their scale and "not available" marker.

#include <QTemporaryDir>
#include <QTest>

#include "meters/metertypefile.h"
#include "meters/typedmeters.h"

using namespace meterlog;

namespace {

// A type file with one block and the field given.
QString typeWithField(const char *block, const char *field)
{
    return QStringLiteral("name = \"t\"\n[[block]]\n%1\n[[field]]\n%2\n").arg(block, field);
}

const char *oneBlock = "function = 4\nstart = 0\ncount = 10";

// The type read from `text`; a failed check with the reader's reason when there is none.
#define READ_TYPE(type, text)                                                                      \
    const auto type##Read = readMeterType(text, "t.toml");                                         \
    QVERIFY2(std::holds_alternative<MeterType>(type##Read),                                        \
        qPrintable(std::holds_alternative<QString>(type##Read) ? std::get<QString>(type##Read)     \
                                                               : QString()));                      \
    const MeterType &type = std::get<MeterType>(type##Read)

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
    void hexadecimalMarkersAreTheFieldsBits_data();
    void hexadecimalMarkersAreTheFieldsBits();
    void valuesAreShownToTheirResolution_data();
    void valuesAreShownToTheirResolution();
    void frequencyComesFromAMeterOnTheLine();
    void longBlocksAreReadInPiecesThatCutNoField_data();
    void longBlocksAreReadInPiecesThatCutNoField();
};

void MeterTypesTest::builtInTypes()
{
    const auto types = builtInMeterTypes();
    QStringList names;
    for (const auto &type : types)
        names << type.name;
    QCOMPARE(names.first(), QStringLiteral("default"));
    for (const char *model : {"sdm120", "sdm630", "em24", "abb-b23"})
        QVERIFY2(names.contains(model), model);
    QVERIFY(types[0].followsWindow);
    // Every type gives the quantities the summary and the readers look for, but where its meter
    // has none to give: the DVH4013 has the power drawn and the power fed in but no signed total,
    // and the PAC2200's one source names no frequency register that can be right. Such a meter
    // shows no kW, and the line's frequency comes from another.
    const auto lacks = [](const MeterType &type, const char *quantity) {
        return (type.name == QLatin1String("dvh4013") && qstrcmp(quantity, "power") == 0)
            || (type.name == QLatin1String("pac2200") && qstrcmp(quantity, "frequency") == 0);
    };
    for (const auto &type : types) {
        QVERIFY2(!type.description.isEmpty(), qPrintable(type.name));
        for (const auto &[quantity, unit] : {std::pair {"power", "W"}, {"frequency", "Hz"}}) {
            if (lacks(type, quantity))
                continue;
            const auto *field = fieldNamed(type, quantity);
            QVERIFY2(field, qPrintable(type.name + ": " + quantity));
            if (!type.followsWindow)
                QCOMPARE(field->unit, QString::fromLatin1(unit));
        }
        if (!type.followsWindow)
            QVERIFY2(fieldNamed(type, "energy_import"), qPrintable(type.name));
    }
    const auto dzg = std::get<MeterType>(findMeterType("dvh4013"));
    QCOMPARE(fieldNamed(dzg, "power_import")->unit, QStringLiteral("W"));
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
    row("limit over 125 registers",
        QStringLiteral("name = \"t\"\nmax_registers = 126\n[[block]]\n%1\n").arg(oneBlock),
        "2: max_registers must be a whole number from 1 to 125");
    row("field longer than the limit",
        QStringLiteral("name = \"t\"\nmax_registers = 1\n[[block]]\n%1\n[[field]]\n%2\n")
            .arg(oneBlock, voltage),
        "7: field voltage_l1 cannot be read whole in requests of at most 1 registers");
    row("function 5", typeWithField("function = 5\nstart = 0\ncount = 10", voltage),
        "3: function must be 3 or 4");
    row("block past the last register",
        typeWithField("function = 3\nstart = 65530\ncount = 10", voltage),
        "5: count must be a whole number from 1 to 6");
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
    row("hexadecimal marker wider than its type",
        typeWithField(
            oneBlock, "name = \"v\"\noffset = 0\ntype = \"u16\"\nnot_available = \"0x1FFFF\""),
        "10: not_available must be a value of the field's type");
    row("no block", "name = \"t\"\n[[field]]\nname = \"v\"\noffset = 0\ntype = \"u16\"\n",
        "the type has no [[block]]");
    row("no name", QStringLiteral("[[block]]\n%1\n").arg(oneBlock), "the type has no name");
    row("unknown key", QStringLiteral("name = \"t\"\nmodel = \"x\"\n"), "2: unknown key 'model'");
    const QString identified
        = typeWithField(oneBlock, voltage) + "[identify]\nfunction = 3\nstart = 11\ncount = 1\n";
    row("identification code wider than its read",
        identified + "values = [65536]\nconfirm = { function = 3, start = 0, count = 2 }\n",
        "14: a value must be a whole number that fits 1 registers");
    row("identification without a confirming read", identified + "values = [71]\n",
        "10: identify has no confirm");
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

void MeterTypesTest::hexadecimalMarkersAreTheFieldsBits_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QList<std::uint16_t>>("markedWords");
    QTest::addColumn<QList<std::uint16_t>>("otherWords");
    using Words = QList<std::uint16_t>;
    // All ones of a u64, which a TOML integer cannot hold; the one below it is a value.
    QTest::newRow("u64 all ones") << "u64"
                                  << "0xFFFFFFFFFFFFFFFF" << Words {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}
                                  << Words {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE};
    // A signed type reads the bits as its two's complement: 8000h is -32768, not 32768.
    QTest::newRow("i16 lowest") << "i16"
                                << "0x8000" << Words {0x8000} << Words {0x7FFF};
    QTest::newRow("i32 largest") << "i32"
                                 << "0x7fffffff" << Words {0x7FFF, 0xFFFF}
                                 << Words {0xFFFF, 0xFFFF};
}

void MeterTypesTest::hexadecimalMarkersAreTheFieldsBits()
{
    QFETCH(QString, type);
    QFETCH(QString, marker);
    QFETCH(QList<std::uint16_t>, markedWords);
    QFETCH(QList<std::uint16_t>, otherWords);
    const QString field
        = QStringLiteral("name = \"e\"\noffset = 0\ntype = \"%1\"\nnot_available = \"%2\"")
              .arg(type, marker);
    READ_TYPE(marked, typeWithField(oneBlock, qPrintable(field)));
    const auto &decoded = marked.fields.first();
    QCOMPARE(decodeField(decoded, markedWords), std::nullopt);
    QVERIFY(decodeField(decoded, otherWords).has_value());
}

void MeterTypesTest::valuesAreShownToTheirResolution_data()
{
    QTest::addColumn<QString>("field"); // the keys after name and offset
    QTest::addColumn<int>("decimals");
    QTest::newRow("tenths") << "type = \"i16\"\nscale = 0.1\nunit = \"V\"" << 1;
    QTest::newRow("thousandths") << "type = \"u32\"\nscale = 0.001\nunit = \"kWh\"" << 3;
    QTest::newRow("whole") << "type = \"u16\"\nunit = \"W\"" << 0;
    QTest::newRow("tens") << "type = \"i32\"\nscale = 10\nunit = \"Wh\"" << 0;
    QTest::newRow("float volts") << "type = \"f32\"\nunit = \"V\"" << 1;
    QTest::newRow("float hertz") << "type = \"f32\"\nunit = \"Hz\"" << 2;
    QTest::newRow("float, unit unknown") << "type = \"f64\"\nunit = \"m3\"" << 3;
    QTest::newRow("given") << "type = \"f32\"\nunit = \"V\"\ndecimals = 0" << 0;
}

void MeterTypesTest::valuesAreShownToTheirResolution()
{
    QFETCH(QString, field);
    QFETCH(int, decimals);
    READ_TYPE(type,
        typeWithField(oneBlock, qPrintable(QStringLiteral("name = \"e\"\noffset = 0\n") + field)));
    QCOMPARE(shownDecimals(type.fields.first()), decimals);
}

void MeterTypesTest::frequencyComesFromAMeterOnTheLine()
{
    // A line of one sdm630: the default fifth slot would give it, but it holds no meter.
    TypedMeters::Types types(slotCount);
    types[0] = std::get<MeterType>(findMeterType("sdm630"));
    QCOMPARE(TypedMeters(types).lineFrequencySlot(), std::optional(slotCount - 1));
    QCOMPARE(
        TypedMeters(types, {false, true, true, true, true}).lineFrequencySlot(), std::optional(0));
    QCOMPARE(TypedMeters({}, {true, true, true, true, true}).lineFrequencySlot(), std::nullopt);
}

void MeterTypesTest::longBlocksAreReadInPiecesThatCutNoField_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("fields"); // "offset:type ..."
    QTest::addColumn<QList<int>>("pieces"); // each request's first register and count
    // A block of 30 registers from register 100.
    QTest::newRow("no limit: one request") << 125 << "0:i32 28:i32" << QList<int> {100, 30};
    QTest::newRow("cut moved back to the start of a pair")
        << 11 << "0:i32 10:i32 20:i32" << QList<int> {100, 10, 110, 10, 120, 10};
    QTest::newRow("registers with no field are read too")
        << 11 << "0:u16 29:u16" << QList<int> {100, 11, 111, 11, 122, 8};
    QTest::newRow("a long value keeps the cut before it")
        << 8 << "0:u64 6:u64 26:u64" << QList<int> {100, 6, 106, 8, 114, 8, 122, 8};
}

void MeterTypesTest::longBlocksAreReadInPiecesThatCutNoField()
{
    QFETCH(int, limit);
    QFETCH(QString, fields);
    QFETCH(QList<int>, pieces);
    QString text = QStringLiteral(
        "name = \"t\"\nmax_registers = %1\n[[block]]\nfunction = 3\nstart = 100\ncount = 30\n")
                       .arg(limit);
    for (const auto &each : fields.split(' ')) {
        const auto parts = each.split(':');
        text += QStringLiteral("[[field]]\nname = \"f%1\"\noffset = %1\ntype = \"%2\"\n")
                    .arg(parts[0], parts[1]);
    }
    READ_TYPE(pieced, text);
    QList<int> requested;
    for (const auto &request : requestsOf(pieced, 0)) {
        QCOMPARE(request.function, std::uint8_t(3));
        requested << request.start << request.count;
    }
    QCOMPARE(requested, pieces);
}

QTEST_GUILESS_MAIN(MeterTypesTest)
#include "tst_metertypes.moc"

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTest>

#include "table/registergrid.h"

using namespace meterlog;

class RegisterGridTest : public QObject
{
    Q_OBJECT

private slots:
    void cellsOutsideTheGridFailAndChangeNothing_data();
    void cellsOutsideTheGridFailAndChangeNothing();
    void everyCellInsideHoldsText();
    void layOutWritesHeadersAndAddressLabels();
    void layOutPutsTheFourInFrontOfTheText();
    void registerWordsKeepAPlaceForTheSign();
    void cellsLookAsTheStyleDrawsThem();
};

void RegisterGridTest::cellsOutsideTheGridFailAndChangeNothing_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("row 25") << 25 << 2;
    QTest::newRow("row -1") << -1 << 2;
    QTest::newRow("column 7") << 1 << 7;
    QTest::newRow("column -1") << 1 << -1;
}

void RegisterGridTest::cellsOutsideTheGridFailAndChangeNothing()
{
    QFETCH(int, row);
    QFETCH(int, column);
    RegisterGrid grid;
    QVERIFY(!grid.setCellText(row, column, "x"));
    QCOMPARE(grid.cellText(row, column), std::nullopt);
    // The grid never grows.
    QCOMPARE(grid.rowCount(), RegisterGrid::gridRows - 1);
    QCOMPARE(grid.columnCount(), RegisterGrid::gridColumns - 1);
}

void RegisterGridTest::everyCellInsideHoldsText()
{
    RegisterGrid grid;
    for (int row = 0; row < RegisterGrid::gridRows; ++row) {
        for (int column = 0; column < RegisterGrid::gridColumns; ++column) {
            QCOMPARE(grid.cellText(row, column), std::optional<QString>(QString()));
            const auto text = QStringLiteral("%1/%2").arg(row).arg(column);
            QVERIFY(grid.setCellText(row, column, text));
            QCOMPARE(grid.cellText(row, column), std::optional<QString>(text));
        }
    }
}

void RegisterGridTest::layOutWritesHeadersAndAddressLabels()
{
    RegisterGrid grid;
    grid.layOut({"1", "2", "3", "4", "5"}, "4011", "12");

    const QStringList header {"", "ADDR: ", "ID: 1", "ID: 2", "ID: 3", "ID: 4", "ID: 5"};
    for (int column = 0; column < RegisterGrid::gridColumns; ++column)
        QCOMPARE(grid.cellText(0, column), std::optional<QString>(header[column]));
    for (int row = 1; row <= 12; ++row)
        QCOMPARE(grid.cellText(row, 1), std::optional<QString>(QString::number(44010 + row)));
    QCOMPARE(grid.cellText(13, 1), std::optional<QString>(QString()));
    for (int row = 1; row < RegisterGrid::gridRows; ++row) {
        QCOMPARE(grid.cellText(row, 0), std::optional<QString>(QString()));
        for (int column = 2; column < RegisterGrid::gridColumns; ++column)
            QCOMPARE(grid.cellText(row, column), std::optional<QString>(QString()));
    }
    // 700 twips a column, 350 for the header column, at 15 twips a pixel.
    QCOMPARE(grid.columnWidth(0), 47);
    QCOMPARE(grid.columnWidth(5), 47);
    QCOMPARE(grid.verticalHeader()->width(), 23);
}

void RegisterGridTest::layOutPutsTheFourInFrontOfTheText()
{
    RegisterGrid grid;
    grid.layOut({"7", "", "x", "4", "5"}, "0", "30");
    QCOMPARE(grid.cellText(0, 2), std::optional<QString>("ID: 7"));
    QCOMPARE(grid.cellText(0, 3), std::optional<QString>("ID: "));
    // "4" in front of "0" is 40; a count past the grid labels the rows there are.
    QCOMPARE(grid.cellText(1, 1), std::optional<QString>("40"));
    QCOMPARE(grid.cellText(24, 1), std::optional<QString>("63"));

    RegisterGrid unreadable;
    unreadable.layOut({"1", "2", "3", "4", "5"}, "abc", "2");
    QCOMPARE(unreadable.cellText(1, 1), std::optional<QString>(QString()));
}

void RegisterGridTest::registerWordsKeepAPlaceForTheSign()
{
    QCOMPARE(registerText(5000), QStringLiteral(" 5000"));
    QCOMPARE(registerText(0), QStringLiteral(" 0"));
    QCOMPARE(registerText(65535), QStringLiteral(" 65535"));
}

void RegisterGridTest::cellsLookAsTheStyleDrawsThem()
{
    RegisterGrid grid;
    grid.resize(330, 320);
    grid.layOut({"1", "2", "3", "4", "5"}, "4011", "12");
    for (int row = 1; row <= 12; ++row) {
        for (int column = 2; column < RegisterGrid::gridColumns; ++column)
            grid.setCellText(row, column, registerText(quint16(row * 5431 + column * 17)));
    }
    grid.setCellText(13, 2, "a text far too long for its cell");
    grid.setColumnStale(4, true);
    // A selected cell is the style's own; it must stay so.
    grid.setCurrentCell(4, 3);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    const QImage ours = grid.grab().toImage();
    auto *styles = new QStyledItemDelegate(&grid);
    grid.setItemDelegate(styles);
    QCOMPARE(ours, grid.grab().toImage());
}

QTEST_MAIN(RegisterGridTest)
#include "tst_registergrid.moc"

#pragma once

// The register grid: the only store of readings. 25 rows by 7 columns of text; row 0 and
// column 0 are fixed headers that stay in view when the grid scrolls. Row r holds the r-th
// register of a scan, column i + 2 device slot i, column 1 the register addresses.

#include <QString>
#include <QTableWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "meters/meters.h"

namespace meterlog {

class RegisterGrid : public QTableWidget
{
    Q_OBJECT

public:
    static constexpr int gridRows = 25;
    static constexpr int addressColumn = 1;
    static constexpr int firstSlotColumn = 2;
    static constexpr int gridColumns = firstSlotColumn + slotCount;

    explicit RegisterGrid(QWidget *parent = nullptr);

    // Text of a cell; a cell outside the grid fails, and a put there changes nothing.
    std::optional<QString> cellText(int row, int column) const;
    bool setCellText(int row, int column, const QString &text);
    bool setColumnWidthTwips(int column, int twips);
    // Draws the value cells of a column in grey, their texts unchanged, while what they show is
    // older than the last attempt to read it.
    void setColumnStale(int column, bool stale);
    bool isColumnStale(int column) const;
    // Composes a column header's tooltip when someone hovers over the header: changing the
    // header's own data would lay the whole header out again at every scan.
    void setColumnToolTipSource(std::function<QString(int column)> source);
    QString columnToolTip(int column) const;

    // Widths, the "ADDR: " and "ID: " headers, and one address label per register row: "4" put
    // in front of the start address text, plus the row's offset (44011 ... 44022 for 4011, 12).
    void layOut(const std::array<QString, slotCount> &deviceAddressTexts,
        const QString &startAddressText, const QString &countText);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTableWidgetItem *itemAt(int row, int column) const;

    QString m_cornerText; // cell (0, 0): part of the grid, shown nowhere
    std::function<QString(int column)> m_columnToolTip;
};

// A register word as the grid holds it: one blank where a sign would go, then the digits.
QString registerText(std::uint16_t value);

} // namespace meterlog

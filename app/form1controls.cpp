// The window's controls as they are at creation: names, kinds, frames, captions, texts, places
// in twips and tab order.

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/cachingstyle.h"
#include "app/fittingfont.h"
#include "app/form1.h"
#include "app/twips.h"
#include "table/registergrid.h"

namespace meterlog {

namespace {

constexpr int clientWidthTwips = 9705;
constexpr int clientHeightTwips = 6105;
constexpr std::chrono::milliseconds pollInterval {100};
// The font the places were drawn for, and the smallest that is still read without effort.
constexpr qreal drawnPointSize = 8.25;
constexpr qreal smallestPointSize = 6.0;

QLabel *makeLabel(const QString &caption)
{
    auto *label = new QLabel(caption);
    // Captions keep their blanks exactly: "Com          :".
    label->setTextFormat(Qt::PlainText);
    return label;
}

QComboBox *makeCombo(const QStringList &items)
{
    auto *combo = new QComboBox;
    combo->setEditable(true);
    // Typed text is read when a routine needs it; it never becomes an entry of the list.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
    return combo;
}

} // namespace

void Form1::place(QWidget *control, QWidget *container, const QRect &twips, int tabIndex)
{
    control->setGeometry(twips);
    m_placements.emplace(tabIndex, Placement {control, container});
}

void Form1::createControls()
{
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(twipsToPixels(clientWidthTwips), twipsToPixels(clientHeightTwips));

    Frame4 = new QGroupBox(QStringLiteral("Frame4"));
    place(Frame4, this, twipsRect(120, 120, 4335, 4815), 2);

    Frame6 = new QGroupBox(QStringLiteral("Frame6"));
    place(Frame6, Frame4, twipsRect(120, 360, 1215, 1095), 17);
    cmd_coneck = new QPushButton(QStringLiteral("Connect"));
    place(cmd_coneck, Frame6, twipsRect(120, 240, 975, 375), 18);

    Frame1 = new QGroupBox;
    place(Frame1, Frame4, twipsRect(1200, 360, 1935, 1095), 3);
    Label1 = makeLabel(QStringLiteral("Com          :"));
    place(Label1, Frame1, twipsRect(120, 240, 975, 255), 6);
    ComA = makeCombo(
        {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15"});
    place(ComA, Frame1, twipsRect(960, 240, 855, 315), 4);
    Label2 = makeLabel(QStringLiteral("BoudRate :"));
    place(Label2, Frame1, twipsRect(120, 600, 855, 255), 7);
    BoudRateA = makeCombo({"9600", "38400", "115200"});
    place(BoudRateA, Frame1, twipsRect(960, 600, 855, 315), 5);

    Frame3 = new QGroupBox(QStringLiteral("ID"));
    place(Frame3, Frame4, twipsRect(3240, 360, 975, 2175), 8);
    constexpr std::array addressTabs {13, 14, 15, 16, 25};
    constexpr std::array tickTabs {9, 10, 11, 12, 26};
    for (int i = 0; i < slotCount; ++i) {
        txtaID[i] = new QLineEdit(QString::number(i + 1));
        place(txtaID[i], Frame3, twipsRect(120, 360 + 360 * i, 375, 285), addressTabs[i]);
        cheAID[i] = new SlotTickBox;
        cheAID[i]->setToolTipSource([this, i] { return slotDescription(i); });
        place(cheAID[i], Frame3, twipsRect(600, 360 + 360 * i, 255, 255), tickTabs[i]);
    }

    Frame2 = new QGroupBox(QStringLiteral("Frame2"));
    place(Frame2, Frame4, twipsRect(120, 1440, 3015, 1095), 19);
    Label9 = makeLabel(QStringLiteral("Start Addres"));
    place(Label9, Frame2, twipsRect(120, 360, 1095, 255), 24);
    txt_addr = new QLineEdit(QString::number(createdStartAddress));
    place(txt_addr, Frame2, twipsRect(1080, 240, 615, 285), 21);
    Label10 = makeLabel(QStringLiteral("Panjang"));
    place(Label10, Frame2, twipsRect(120, 600, 975, 375), 23);
    txt_jumlahData = new QLineEdit(QString::number(createdRegisterCount));
    place(txt_jumlahData, Frame2, twipsRect(1080, 600, 615, 285), 20);
    cmdTest = new QPushButton(QStringLiteral("Scan"));
    place(cmdTest, Frame2, twipsRect(1920, 240, 855, 375), 27);
    cmd_auto = new QPushButton(QStringLiteral("Manual"));
    place(cmd_auto, Frame2, twipsRect(1920, 600, 855, 375), 29);
    // Lies below the frame's bottom edge, so the frame clips it out of sight; it has no routine.
    cmdAuto = new QPushButton(QStringLiteral("Manual"));
    place(cmdAuto, Frame2, twipsRect(2040, 3000, 975, 375), 22);

    Label[0] = makeLabel(QStringLiteral("Freq   :"));
    place(Label[0], Frame4, twipsRect(120, 2640, 615, 255), 30);
    lbfreq = makeLabel(QStringLiteral("0"));
    place(lbfreq, Frame4, twipsRect(720, 2640, 615, 255), 46);
    for (int i = 0; i < slotCount; ++i) {
        const int top = 3000 + 240 * i;
        Label[i + 1] = makeLabel(QStringLiteral("M%1     :").arg(i + 1));
        place(Label[i + 1], Frame4, twipsRect(120, top, 615, 255), 31 + i);
        lbkw[i] = makeLabel(QStringLiteral("0"));
        place(lbkw[i], Frame4, twipsRect(720, top, 615, 255), 36 + 2 * i);
        lbkw_[i] = makeLabel(QStringLiteral("kW"));
        place(lbkw_[i], Frame4, twipsRect(1440, top, 375, 255), 37 + 2 * i);
    }
    Command1 = new QPushButton(QStringLiteral("Command1"));
    place(Command1, Frame4, twipsRect(2520, 3720, 975, 375), 28);
    lbprint = makeLabel(QString());
    place(lbprint, Frame4, twipsRect(120, 4320, 3855, 375), 47);

    Timer3 = new QTimer(this);
    Timer3->setInterval(pollInterval);

    tabel = new RegisterGrid;
    place(tabel, this, twipsRect(4560, 240, 4935, 4695), 0);
    txtPrint = new QLineEdit;
    place(txtPrint, this, twipsRect(720, 5400, 8415, 405), 1);

    attachInTabOrder();
    chooseFonts();
    if (CachingStyle::suits(*QApplication::style())) {
        // A child of the window, so that it outlives the controls that use it.
        auto *style = new CachingStyle(this);
        setStyle(style);
        for (auto *control : findChildren<QWidget *>())
            control->setStyle(style);
    }
}

void Form1::chooseFonts()
{
    // The places of the controls were laid out for MS Sans Serif at 8 points; where that font is
    // missing, a sans serif of about its width comes closest, and the size is brought down until
    // every caption fits whatever font the system gives.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
        {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
            QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    QFont drawnFont(QStringLiteral("MS Sans Serif"));
    drawnFont.setStyleHint(QFont::SansSerif);
    drawnFont.setPointSizeF(drawnPointSize);
    // The grid keeps the drawn size: its columns are wide enough for the numbers they hold.
    tabel->setFont(drawnFont);
    QList<const QWidget *> controls;
    for (const auto *control : findChildren<QWidget *>()) {
        if (control != tabel && !tabel->isAncestorOf(control))
            controls << control;
    }
    setFont(fittingFont(controls, drawnFont, smallestPointSize));
}

void Form1::attachInTabOrder()
{
    // A widget joins the end of its window's focus chain when it is put into the window, so
    // putting the controls in in tab order makes the chain. Every frame comes before what it
    // holds in that order.
    for (const auto &[tabIndex, placement] : m_placements)
        placement.control->setParent(placement.container);
    m_placements.clear();
}

} // namespace meterlog

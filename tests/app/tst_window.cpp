// The window as the operator first sees it: texts that a typo would break, where things sit,
// and what start-up and shutdown leave behind.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/cachingstyle.h"
#include "app/commandline.h"
#include "app/form1.h"
#include "table/registergrid.h"
#include "tests/support/pseudoterminal.h"

using namespace meterlog;

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void captionsKeepTheirBlanks();
    void controlsSitInTheirFrames();
    void hiddenButtonIsClippedByItsFrame();
    void tabOrderFollowsTheDesign();
    void tabWalksTheTabOrderAndComesRound();
    void typedTextNeverGrowsTheLists();
    void everyTextFitsItsControl();
    void marksAndFramesLookAsTheStyleDrawsThem();
    void picturesAreKeptOnlyOverAStyleThatDrawsWithoutState_data();
    void picturesAreKeptOnlyOverAStyleThatDrawsWithoutState();
    void comboListsAndCreationDefaults();
    void startUpState_data();
    void startUpState();
    void startUpWithoutPortNine();
    void startUpForgetsTheLastRunsChoices();
    void closingClosesThePortAndIsNeverRefused();
};

void WindowTest::captionsKeepTheirBlanks()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    QCOMPARE(form.windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(form.Label1->text(), QStringLiteral("Com          :"));
    QCOMPARE(form.Label2->text(), QStringLiteral("BoudRate :"));
    QCOMPARE(form.Label[0]->text(), QStringLiteral("Freq   :"));
    QCOMPARE(form.Label[1]->text(), QStringLiteral("M1     :"));
    QCOMPARE(form.Label[5]->text(), QStringLiteral("M5     :"));
    QCOMPARE(form.Label9->text(), QStringLiteral("Start Addres"));
    QCOMPARE(form.Label10->text(), QStringLiteral("Panjang"));
    QCOMPARE(form.lbkw_[4]->text(), QStringLiteral("kW"));
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("Connect"));
    QCOMPARE(form.cmd_auto->text(), QStringLiteral("Manual"));
    QCOMPARE(form.cmdTest->text(), QStringLiteral("Scan"));
    QCOMPARE(form.Command1->text(), QStringLiteral("Command1"));
    QCOMPARE(form.Frame3->title(), QStringLiteral("ID"));
    QCOMPARE(form.Frame1->title(), QString());
    QCOMPARE(form.lbprint->text(), QString());
    // A label must not fold the blanks of its caption into one.
    QCOMPARE(form.Label1->textFormat(), Qt::PlainText);
}

void WindowTest::controlsSitInTheirFrames()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.show();
    // 9705 x 6105 twips at 15 twips a pixel.
    QCOMPARE(form.size(), QSize(647, 407));
    QCOMPARE(form.cmd_coneck->parentWidget(), form.Frame6);
    QCOMPARE(form.ComA->parentWidget(), form.Frame1);
    QCOMPARE(form.txtaID[4]->parentWidget(), form.Frame3);
    QCOMPARE(form.cheAID[2]->parentWidget(), form.Frame3);
    QCOMPARE(form.cmd_auto->parentWidget(), form.Frame2);
    QCOMPARE(form.lbkw[3]->parentWidget(), form.Frame4);
    QCOMPARE(form.Frame2->parentWidget(), form.Frame4);
    QCOMPARE(form.tabel->parentWidget(), &form);
    QCOMPARE(form.txtPrint->parentWidget(), &form);
    QCOMPARE(form.txtaID[3]->geometry(), QRect(8, 96, 25, 19));
    QCOMPARE(form.lbkw[4]->geometry(), QRect(48, 264, 41, 17));
    QCOMPARE(form.tabel->geometry(), QRect(304, 16, 329, 313));
}

void WindowTest::hiddenButtonIsClippedByItsFrame()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!form.Frame2->rect().intersects(form.cmdAuto->geometry()));
    QVERIFY(form.cmdAuto->visibleRegion().isEmpty());
    QVERIFY(!form.cmdTest->visibleRegion().isEmpty());
}

namespace {

// The controls that take the focus, in the design's tab order.
QList<QWidget *> designTabOrder(const Form1 &form)
{
    return {form.tabel, form.txtPrint, form.ComA, form.BoudRateA, form.cheAID[0], form.cheAID[1],
        form.cheAID[2], form.cheAID[3], form.txtaID[0], form.txtaID[1], form.txtaID[2],
        form.txtaID[3], form.cmd_coneck, form.txt_jumlahData, form.txt_addr, form.cmdAuto,
        form.txtaID[4], form.cheAID[4], form.cmdTest, form.Command1, form.cmd_auto};
}

// The control of `controls` that `widget` is, or is part of (the edit field of a combo box, the
// viewport of the grid).
QWidget *controlOf(QWidget *widget, const QList<QWidget *> &controls)
{
    while (widget && !controls.contains(widget))
        widget = widget->parentWidget();
    return widget;
}

} // namespace

void WindowTest::tabOrderFollowsTheDesign()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    const auto expected = designTabOrder(form);
    for (int i = 0; i + 1 < expected.size(); ++i) {
        QWidget *next = expected[i]->nextInFocusChain();
        // Composite controls (the grid, the combo boxes) have inner widgets in the chain.
        while (next && !expected.contains(next) && next != &form)
            next = next->nextInFocusChain();
        QVERIFY2(next == expected[i + 1], qPrintable(QString::number(i)));
    }
}

void WindowTest::tabWalksTheTabOrderAndComesRound()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.Timer3->stop();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const auto order = designTabOrder(form);
    form.tabel->setFocus();
    QList<QWidget *> visited;
    for (int press = 0; press < order.size(); ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << controlOf(QApplication::focusWidget(), order);
    }
    QCOMPARE(visited, order.mid(1) << form.tabel);
}

void WindowTest::typedTextNeverGrowsTheLists()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.Timer3->stop();
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (const auto &[combo, typed] : {std::pair {form.ComA, "20"},
             std::pair {form.ComA, "/dev/ttyUSB0"}, std::pair {form.BoudRateA, "57600"}}) {
        const int entries = combo->count();
        combo->setFocus();
        combo->lineEdit()->clear();
        QTest::keyClicks(combo->lineEdit(), typed);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(combo->count(), entries);
        // What was typed stays in the box, for the next routine that reads it.
        QCOMPARE(combo->currentText(), QString(typed));
    }
}

void WindowTest::everyTextFitsItsControl()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.font().pointSizeF() >= 6.0);
    // Each control's texts and the width its text can take once shown. The labels beside the
    // port boxes and the start address run under those boxes: their text ends where a box
    // begins.
    QList<std::tuple<QWidget *, QStringList, int>> shown;
    const auto inLineEdit = [](const QLineEdit *edit) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.rect = edit->rect();
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width()
            - 4;
    };
    for (auto *label : form.findChildren<QLabel *>())
        shown.append({label, {label->text()}, label->width()});
    shown.append({form.Label1, {form.Label1->text()}, form.ComA->x() - form.Label1->x()});
    shown.append({form.Label2, {form.Label2->text()}, form.BoudRateA->x() - form.Label2->x()});
    shown.append({form.Label9, {form.Label9->text()}, form.txt_addr->x() - form.Label9->x()});
    for (auto *button : form.findChildren<QPushButton *>()) {
        const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        shown.append({button, {button->text()}, button->width() - 2 * frame});
    }
    for (auto *combo : {form.ComA, form.BoudRateA}) {
        QStringList entries;
        for (int entry = 0; entry < combo->count(); ++entry)
            entries << combo->itemText(entry);
        shown.append({combo, entries, combo->lineEdit()->width() - 4});
    }
    for (auto *edit : {form.txtaID[0], form.txtaID[4], form.txt_addr, form.txt_jumlahData})
        shown.append({edit, {edit->text()}, inLineEdit(edit)});
    for (auto *frame : form.findChildren<QGroupBox *>())
        shown.append({frame, {frame->title()}, frame->width()});

    for (const auto &[control, texts, room] : shown) {
        const QFontMetrics metrics(control->font());
        for (const auto &text : texts) {
            QVERIFY2(metrics.horizontalAdvance(text) <= room,
                qPrintable(QStringLiteral("%1 \"%2\": %3 px in %4")
                               .arg(control->objectName(), text)
                               .arg(metrics.horizontalAdvance(text))
                               .arg(room)));
        }
    }
}

void WindowTest::marksAndFramesLookAsTheStyleDrawsThem()
{
    // What the screen shows where the widget is.
    const auto picture = [](QWidget *widget) {
        auto *window = widget->window();
        return window->grab(QRect(widget->mapTo(window, QPoint()), widget->size()))
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    };
    // A mark is the window colour the box is drawn in, as a palette filling its background
    // made it.
    QGroupBox frame;
    auto *byPalette = new QCheckBox(&frame);
    byPalette->setAutoFillBackground(true);
    auto *tickBox = new SlotTickBox(&frame);
    byPalette->setGeometry(10, 10, 17, 17);
    tickBox->setGeometry(40, 10, 17, 17);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    for (const QColor &mark : {QColor(128, 255, 128), QColor(255, 0, 0), QColor(0, 64, 0)}) {
        for (const auto state : {Qt::Checked, Qt::Unchecked}) {
            auto palette = byPalette->palette();
            palette.setColor(QPalette::Window, mark);
            byPalette->setPalette(palette);
            byPalette->setCheckState(state);
            tickBox->setBackColour(mark);
            tickBox->setCheckState(state);
            QCOMPARE(picture(tickBox), picture(byPalette));
        }
    }

    // The whole window, frames kept as pictures, against the style drawing every one anew.
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.Timer3->stop();
    form.Form_Load();
    form.cheAID[1]->setBackColour(QColor(255, 0, 0));
    form.txtPrint->setText(" 5000,65538,0,0,0,0");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const auto kept = picture(&form);
    form.setStyle(QApplication::style());
    for (auto *control : form.findChildren<QWidget *>())
        control->setStyle(QApplication::style());
    const auto drawnAnew = picture(&form);
    // A picture laid over the window blends its antialiased edges once instead of stroke by
    // stroke: a pixel may come out one level apart, never more.
    QCOMPARE(kept.size(), drawnAnew.size());
    int apart = 0;
    for (int y = 0; y < kept.height(); ++y) {
        for (int x = 0; x < kept.width(); ++x) {
            const QColor a = kept.pixelColor(x, y), b = drawnAnew.pixelColor(x, y);
            apart += std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                         std::abs(a.blue() - b.blue())})
                > 1;
        }
    }
    QCOMPARE(apart, 0);
}

void WindowTest::picturesAreKeptOnlyOverAStyleThatDrawsWithoutState_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("kept");
    QTest::newRow("Fusion") << "fusion" << true;
    // Stands for a desktop theme, whose state per widget a kept picture would freeze.
    QTest::newRow("Windows") << "windows" << false;
}

void WindowTest::picturesAreKeptOnlyOverAStyleThatDrawsWithoutState()
{
    QFETCH(QString, style);
    QFETCH(bool, kept);
    const QString before = QApplication::style()->name();
    QApplication::setStyle(style);
    QTemporaryDir dir;
    {
        Form1 form(dir.path());
        QCOMPARE(qobject_cast<CachingStyle *>(form.style()) != nullptr, kept);
        QCOMPARE(qobject_cast<CachingStyle *>(form.cmd_coneck->style()) != nullptr, kept);
    }
    QApplication::setStyle(before);
}

void WindowTest::comboListsAndCreationDefaults()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    QCOMPARE(form.ComA->count(), 15);
    QCOMPARE(form.ComA->itemText(0), QStringLiteral("1"));
    QCOMPARE(form.ComA->itemText(14), QStringLiteral("15"));
    QCOMPARE(form.BoudRateA->count(), 3);
    QCOMPARE(form.BoudRateA->itemText(1), QStringLiteral("38400"));
    QVERIFY(form.ComA->isEditable());
    QCOMPARE(form.ComA->currentText(), QString());
    for (int i = 0; i < slotCount; ++i) {
        QCOMPARE(form.txtaID[i]->text(), QString::number(i + 1));
        QCOMPARE(form.cheAID[i]->checkState(), Qt::Unchecked);
        QCOMPARE(form.cheAID[i]->text(), QString());
    }
    QCOMPARE(form.txt_addr->text(), QStringLiteral("4011"));
    QCOMPARE(form.txt_jumlahData->text(), QStringLiteral("12"));
    QCOMPARE(form.lbfreq->text(), QStringLiteral("0"));
    QVERIFY(form.Timer3->isActive());
    QCOMPARE(form.Timer3->interval(), 100);
}

void WindowTest::startUpState_data()
{
    // The command line given; what the port box, the baud box and the line then hold, which
    // device in the folder is open, the mode, the slots' addresses (a slot without one is
    // unticked), and the address labels of row 1 and of the last row the count gives.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("portBox");
    QTest::addColumn<QString>("baudBox");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("firstLabel");
    QTest::addColumn<int>("lastRow");
    QTest::addColumn<QString>("lastLabel");
    const QStringList oneToFive {"1", "2", "3", "4", "5"};
    QTest::newRow("no option") << QStringList {} << "9"
                               << "38400"
                               << "38400,n,8,1"
                               << "com9"
                               << "Auto" << oneToFive << "44011" << 12 << "44022";
    QTest::newRow("port number and line")
        << QStringList {"--port", "4", "--line", "9600,e,8,1"} << "4"
        << "9600"
        << "9600,e,8,1"
        << "com4"
        << "Auto" << oneToFive << "44011" << 12 << "44022";
    QTest::newRow("device path, speed not in the list")
        << QStringList {"--port", "{folder}/com4", "--line", "19200,n,8,2"} << "{folder}/com4"
        << "19200"
        << "19200,n,8,2"
        << "com4"
        << "Auto" << oneToFive << "44011" << 12 << "44022";
    QTest::newRow("three meters, own range, manual")
        << QStringList {"--addresses", "11,12,13", "--start", "100", "--count", "3", "--manual"}
        << "9"
        << "38400"
        << "38400,n,8,1"
        << "com9"
        << "Manual" << QStringList {"11", "12", "13", "", ""} << "4100" << 3 << "4102";
}

void WindowTest::startUpState()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, portBox);
    QFETCH(QString, baudBox);
    QFETCH(QString, line);
    QFETCH(QString, device);
    QFETCH(QString, mode);
    QFETCH(QStringList, addresses);
    QFETCH(QString, firstLabel);
    QFETCH(int, lastRow);
    QFETCH(QString, lastLabel);
    QTemporaryDir dir;
    arguments.replaceInStrings("{folder}", dir.path());
    portBox.replace("{folder}", dir.path());
    PseudoTerminal nine, four;
    QVERIFY(nine.linkAs(dir.filePath("com9")));
    QVERIFY(four.linkAs(dir.filePath("com4")));
    const auto parsed = parseCommandLine(QStringList {"meterlog"} + arguments);
    Form1 form(dir.path(), std::get<ProgramOptions>(parsed).start);
    // An option replaces the value at the step that sets it: no other port is opened first.
    QSignalSpy closed(&form.port(), &SerialComm::closed);
    form.Form_Load();

    QCOMPARE(form.ComA->currentText(), portBox);
    QCOMPARE(form.BoudRateA->currentText(), baudBox);
    QCOMPARE(settingsText(form.port().settings()), line);
    QCOMPARE(form.cmd_auto->text(), mode);
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("DisConnect"));
    QVERIFY(form.port().portOpen());
    QCOMPARE(form.port().deviceName(), dir.filePath(device));
    QCOMPARE(closed.count(), 0);
    // The speed and stop bits reached the device itself.
    const auto &opened = device == "com9" ? nine : four;
    QCOMPARE(opened.baudRate(), form.port().settings().baudRate);
    QCOMPARE(opened.stopBits(), line.endsWith(",2") ? 2 : 1);
    for (int i = 0; i < slotCount; ++i) {
        QCOMPARE(form.txtaID[i]->text(), addresses[i]);
        QCOMPARE(
            form.cheAID[i]->checkState(), addresses[i].isEmpty() ? Qt::Unchecked : Qt::Checked);
        QCOMPARE(form.tabel->cellText(0, i + 2), std::optional<QString>("ID: " + addresses[i]));
    }
    QCOMPARE(form.tabel->cellText(1, 1), std::optional<QString>(firstLabel));
    QCOMPARE(form.tabel->cellText(lastRow, 1), std::optional<QString>(lastLabel));
    QCOMPARE(form.tabel->cellText(lastRow + 1, 1), std::optional<QString>(QString()));
    QCOMPARE(form.checksum().crc_table, makeCrcTable());
}

void WindowTest::startUpWithoutPortNine()
{
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.Form_Load();
    QCOMPARE(form.cmd_coneck->text(), QStringLiteral("Connect"));
    QCOMPARE(form.cmd_auto->text(), QStringLiteral("Auto"));
    QVERIFY(!form.port().portOpen());
    QCOMPARE(form.cheAID[4]->checkState(), Qt::Checked);
}

void WindowTest::startUpForgetsTheLastRunsChoices()
{
    QTemporaryDir dir;
    {
        Form1 first(dir.path());
        first.Form_Load();
        first.ComA->setCurrentIndex(2);
        first.BoudRateA->setCurrentIndex(0);
        first.txtaID[0]->setText("42");
    }
    Form1 second(dir.path());
    second.Form_Load();
    QCOMPARE(second.ComA->currentText(), QStringLiteral("9"));
    QCOMPARE(second.BoudRateA->currentText(), QStringLiteral("38400"));
    QCOMPARE(second.txtaID[0]->text(), QStringLiteral("1"));
}

void WindowTest::closingClosesThePortAndIsNeverRefused()
{
    QTemporaryDir dir;
    PseudoTerminal line;
    QVERIFY(line.linkAs(dir.filePath("com9")));
    Form1 form(dir.path());
    form.Form_Load();
    form.show();
    QVERIFY(form.port().portOpen());
    QVERIFY(form.close());
    QVERIFY(!form.port().portOpen());
    QVERIFY(!form.Timer3->isActive());

    Form1 closedPort(dir.path());
    closedPort.show();
    QVERIFY(closedPort.close());
    QVERIFY(!closedPort.port().portOpen());
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"

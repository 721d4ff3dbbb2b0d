#include "app/form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QTimer>

#include "common/logcategories.h"
#include "common/numberreading.h"
#include "table/registergrid.h"
#include "table/snapshotfile.h"

namespace meterlog {

namespace {

const QString connectCaption = QStringLiteral("Connect");
const QString disconnectCaption = QStringLiteral("DisConnect");
const QString autoCaption = QStringLiteral("Auto");
const QString manualCaption = QStringLiteral("Manual");

// Selects the list entry that reads `text`, or shows the text itself when no entry does.
void selectOrShow(QComboBox *box, const QString &text)
{
    if (const int entry = box->findText(text); entry >= 0)
        box->setCurrentIndex(entry);
    else
        box->setEditText(text);
}

} // namespace

Form1::Form1(QString programDir, StartValues start, QWidget *parent)
    : QWidget(parent)
    , m_programDir(std::move(programDir))
    , m_start(std::move(start))
    , m_typed(meterTypesOfLine(m_start), vacancies(meterLabels(m_start)))
    , MSComm(m_programDir)
    , m_links(MSComm, m_crc)
    , m_snapshotTrouble(lcFile)
{
    for (int slot = 0; slot < slotCount; ++slot)
        m_pacing.setEvery(slot, m_start.every[slot]);
    for (std::size_t beyond = 0; beyond < m_start.beyondSlots.size(); ++beyond)
        m_pacing.setEvery(slotCount + int(beyond), m_start.beyondSlots[beyond].every);
    createControls();
    // Where the line that the box shows is kept.
    txtPrint->setToolTip(QStringLiteral("Snapshot file: ") + snapshotPath(m_programDir));
    tabel->setColumnToolTipSource([this](int column) {
        const int slot = column - RegisterGrid::firstSlotColumn;
        return slot >= 0 && slot < slotCount ? slotDescription(slot) : QString();
    });
    connectRoutines();
    // The poll timer runs from the window's creation; ticks arrive once events are processed.
    Timer3->start();
}

Form1::~Form1() = default;

void Form1::connectRoutines()
{
    connect(cmd_coneck, &QPushButton::clicked, this, &Form1::cmd_coneck_Click);
    connect(cmdTest, &QPushButton::clicked, this, &Form1::cmdTest_Click);
    connect(Command1, &QPushButton::clicked, this, [this] {
        Command1_Click();
        emit summarized(currentReading());
    });
    connect(cmd_auto, &QPushButton::clicked, this, &Form1::cmd_auto_Click);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    // A port that failed under the program is closed; the button must not go on saying it is
    // connected. When it is opened again, polling goes on by itself.
    for (Link *link : {static_cast<Link *>(&MSComm), static_cast<Link *>(&m_links.network())})
        connect(link, &Link::lost, this, [this] { cmd_coneck->setText(connectCaption); });
    m_links.network().setConnectLimit(m_start.replyLimit);
    connect(
        &m_keeper, &PortKeeper::reopened, this, [this] { cmd_coneck->setText(disconnectCaption); });
    connect(&m_keeper, &PortKeeper::openFailed, this,
        [this] { cmd_coneck->setToolTip(m_keeper.lastOpenError()); });
}

void Form1::Form_Load()
{
    selectOrShow(ComA, m_start.port);
    // The baud box shows the speed of the line settings.
    const auto line = parseLineSettings(m_start.lineSettings);
    selectOrShow(BoudRateA, line ? QString::number(line->baudRate) : QString());
    MSComm.setSettings(m_start.lineSettings);
    if (MSComm.portOpen())
        MSComm.setPortOpen(false);
    cmd_auto->setText(m_start.manual ? manualCaption : autoCaption);
    cmd_coneck_Click();
    for (int i = 0; i < slotCount; ++i)
        cheAID[i]->setCheckState(i < m_start.addresses.size() ? Qt::Checked : Qt::Unchecked);
    for (int i = 0; i < slotCount; ++i)
        txtaID[i]->setText(m_start.addresses.value(i));
    // The range boxes keep their texts from creation unless other ones were asked for; the
    // address column is laid out from them.
    if (m_start.startAddress)
        txt_addr->setText(*m_start.startAddress);
    if (m_start.registerCount)
        txt_jumlahData->setText(*m_start.registerCount);
    std::array<QString, slotCount> deviceAddresses;
    for (int i = 0; i < slotCount; ++i)
        deviceAddresses[i] = txtaID[i]->text();
    tabel->layOut(deviceAddresses, txt_addr->text(), txt_jumlahData->text());
    m_crc.fillTable();
}

void Form1::Form_Unload()
{
    // Closes the port when open, and stops trying to open it.
    m_keeper.release();
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    // The window is going away: a scan waiting for a reply stops at once, and no tick follows.
    Timer3->stop();
    m_closing.cancel();
    event->accept();
}

bool Form1::chooseBaudRate(const QString &baudText)
{
    const auto number = readWholeNumber(baudText);
    const auto baudRate = number ? toWhole<qint32>(*number) : std::nullopt;
    return baudRate && MSComm.setBaudRate(*baudRate);
}

void Form1::cmd_coneck_Click()
{
    // Two separate tests: a call that has just opened the port does not close it again.
    if (cmd_coneck->text() == connectCaption && !link().isOpen()) {
        // Text that is no port, or no speed, leaves the previous choice, and the port opens on
        // that. The port is wanted open from now on: when it cannot be opened, it is tried again.
        m_links.choose(ComA->currentText());
        chooseBaudRate(BoudRateA->currentText());
        if (m_links.isNetwork() && !m_saidLineSettingsDoNotApply) {
            m_saidLineSettingsDoNotApply = true;
            qCInfo(lcPort).noquote() << link().name()
                                     << "is a network link: the line settings and the baud box "
                                        "do not apply to it";
        }
        m_keeper.open(link());
    }
    // Closes the port when open, and stops trying to open it.
    if (cmd_coneck->text() == disconnectCaption)
        m_keeper.release();
    cmd_coneck->setText(link().isOpen() ? disconnectCaption : connectCaption);
}

void Form1::cmdTest_Click()
{
    // The line is lent: no request of ours may go on it meanwhile.
    if (m_pollingPaused)
        return;
    const auto started = std::chrono::steady_clock::now();
    ++m_cyclesRunning;
    const auto result
        = runScanCycle(*this, link(), m_links.framing(), m_closing, m_start.replyLimit);
    --m_cyclesRunning;
    // Paused while this cycle waited: the borrower's turn comes once the last cycle is over.
    if (m_pollingPaused && m_cyclesRunning == 0)
        sayPausedOnceNoCycleRuns();
    if (result.cancelled)
        return;
    ++m_lineHealth.scans;
    m_lineHealth.lastScanDuration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
}

void Form1::pausePolling()
{
    m_pollingPaused = true;
    sayPausedOnceNoCycleRuns();
}

void Form1::resumePolling()
{
    m_pollingPaused = false;
}

void Form1::sayPausedOnceNoCycleRuns()
{
    // Said from the event loop, never from inside a routine, so that the borrower does not start
    // nested in a cycle's wait; asked again there, as the pause may have ended meanwhile.
    QTimer::singleShot(0, this, [this] {
        if (m_pollingPaused && m_cyclesRunning == 0)
            emit pollingPaused();
    });
}

MeterCaptions Form1::shownCaptions() const
{
    MeterCaptions captions;
    captions.frequency = lbfreq->text();
    for (int meter = 0; meter < slotCount; ++meter)
        captions.kilowatts[meter] = lbkw[meter]->text();
    return captions;
}

void Form1::Command1_Click()
{
    const auto refreshed = summarize(*tabel, m_typed, shownCaptions());
    lbfreq->setText(refreshed.frequency);
    for (int meter = 0; meter < slotCount; ++meter)
        lbkw[meter]->setText(refreshed.kilowatts[meter]);
    // The line is built from what the labels show, and the file gets what the box shows.
    // Setting the same text again would still repaint the box, twice every tick.
    if (const auto line = snapshotLine(shownCaptions()); line != txtPrint->text())
        txtPrint->setText(line);
    writeSnapshot();
}

void Form1::writeSnapshot()
{
    const auto written = writeSnapshotFile(m_programDir, txtPrint->text());
    if (written && !m_snapshotTrouble.isOn())
        return;
    const QString path = snapshotPath(m_programDir);
    if (written)
        m_snapshotTrouble.cleared(QStringLiteral("snapshot file %1 written again").arg(path));
    else
        m_snapshotTrouble.persists(
            QStringLiteral("cannot write the snapshot file %1: %2").arg(path, written.failure));
}

void Form1::cmd_auto_Click()
{
    cmd_auto->setText(cmd_auto->text() == manualCaption ? autoCaption : manualCaption);
}

void Form1::Timer3_Timer()
{
    Autoscan();
    if (m_closing.isCancelled())
        return;
    Command1_Click();
    if (isSignalConnected(QMetaMethod::fromSignal(&Form1::summarized)))
        emit summarized(currentReading());
}

void Form1::Autoscan()
{
    // Off while the tick works, so no tick starts inside it, even while a scan waits; starting
    // it again makes the next tick fall due a full interval from now.
    Timer3->stop();
    if (cmd_auto->text() == autoCaption)
        cmdTest_Click();
    if (m_closing.isCancelled())
        return;
    Command1_Click();
    Timer3->start();
}

} // namespace meterlog

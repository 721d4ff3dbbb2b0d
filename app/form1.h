#pragma once

// Form1: meterlog's one window. Its controls hold every setting and every reading; its event
// routines (start-up and shutdown, the connection toggle, the scan, the summary, the mode and the
// poll timer) wire them to the serial port, the scan cycle and the meter summary.

#include <QWidget>

#include <array>
#include <map>

#include "app/linkchoice.h"
#include "app/portkeeper.h"
#include "app/slottickbox.h"
#include "app/startvalues.h"
#include "common/lastingcondition.h"
#include "meters/reading.h"
#include "modbus/crc16.h"
#include "modbus/meterhealth.h"
#include "modbus/meterpacing.h"
#include "modbus/meterwatch.h"
#include "modbus/replywait.h"
#include "modbus/scancycle.h"
#include "serial/serialcomm.h"
#include "table/metersummary.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace meterlog {

class RegisterGrid;

class Form1 : public QWidget, private ScanConsole
{
    Q_OBJECT

public:
    // `programDir` is the program's folder: where `comN` links are looked up and the snapshot
    // file is written. `start` holds what start-up puts into the controls.
    explicit Form1(QString programDir, StartValues start = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // The window's routines, named after the control and the event they handle.
    void Form_Load();
    void Form_Unload();
    void cmd_coneck_Click();
    void cmdTest_Click();
    void Command1_Click();
    void cmd_auto_Click();
    void Timer3_Timer();
    void Autoscan();

    const CrcRoutine &checksum() const { return m_crc; }
    const MeterHealth &health() const { return m_health; }
    const TypedMeters &typedMeters() const { return m_typed; }
    SerialComm &port() { return MSComm; }
    // The link the window polls over: the serial port or a network connection, and its framing.
    Link &link() { return m_links.link(); }
    Framing &framing() { return m_links.framing(); }
    PortKeeper &portKeeper() { return m_keeper; }

    // The controls, under the names the rest of the system knows them by.
    QGroupBox *Frame4, *Frame6, *Frame1, *Frame3, *Frame2;
    QPushButton *cmd_coneck, *cmdTest, *cmd_auto, *cmdAuto, *Command1;
    QLabel *Label1, *Label2, *Label9, *Label10, *lbfreq, *lbprint;
    std::array<QLabel *, 6> Label;
    std::array<QLabel *, slotCount> lbkw, lbkw_;
    QComboBox *ComA, *BoudRateA;
    std::array<QLineEdit *, slotCount> txtaID;
    std::array<SlotTickBox *, slotCount> cheAID;
    QLineEdit *txt_addr, *txt_jumlahData, *txtPrint;
    RegisterGrid *tabel;
    QTimer *Timer3;

    // What the window shows now, for those who publish it.
    Reading currentReading() const;

    // Lends the line to one borrower at a time (a bus scan): from pausePolling() until
    // resumePolling() neither a tick nor the Scan button starts a scan cycle; the ticks still
    // summarize. pollingPaused() says, from the event loop, when no cycle is under way any more.
    void pausePolling();
    void resumePolling();

signals:
    // After every tick's summaries, and after a summary the operator asked for.
    void summarized(const meterlog::Reading &reading);
    // After every verified reply.
    void registersRead(const meterlog::RegisterBlock &block);
    // Polling is paused and no scan cycle is under way: the line is the borrower's.
    void pollingPaused();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void place(QWidget *control, QWidget *container, const QRect &twips, int tabIndex);
    void attachInTabOrder();
    void chooseFonts();
    void connectRoutines();
    bool chooseBaudRate(const QString &baudText);
    void writeSnapshot();
    MeterCaptions shownCaptions() const;
    void sayPausedOnceNoCycleRuns();

    int meterCount() const override { return m_typed.meterCount(); }
    bool slotTicked(int slot) const override;
    bool slotDue(int slot) override;
    std::optional<std::chrono::milliseconds> replyLimit(int slot) const override
    {
        return slot < slotCount ? m_start.replyLimits.at(slot)
                                : m_start.beyondSlots.at(slot - slotCount).replyLimit;
    }
    QString deviceAddressText(int slot) const override;
    QString startAddressText() const override;
    QString registerCountText() const override;
    std::uint8_t readFunction() const override { return m_start.readFunction; }
    const MeterType *typedMeter(int slot) const override { return m_typed.typeOf(slot); }
    void storeTypedWords(int slot, const QList<QList<std::uint16_t>> &blocks) override;
    void showSlotMark(int slot, SlotMark mark) override;
    void storeRegisters(
        int slot, const ReadRequest &request, const QList<std::uint16_t> &words) override;
    void reportSlot(int slot, const SlotReport &report) override;
    void showStaleness(QLabel *label, bool stale);
    QString slotDescription(int slot) const;

    QString m_programDir;
    StartValues m_start;
    TypedMeters m_typed;
    SerialComm MSComm;
    CrcRoutine m_crc;
    LinkChoice m_links;
    PortKeeper m_keeper;
    bool m_saidLineSettingsDoNotApply = false;
    MeterHealth m_health {m_typed.meterCount()};
    MeterWatch m_meterWatch {meterNames(m_start)};
    MeterPacing m_pacing {m_typed.meterCount()};
    LastingCondition m_snapshotTrouble;
    Cancellation m_closing;
    LineHealth m_lineHealth; // its scans; whether the link is up is asked when needed
    bool m_pollingPaused = false;
    // Scan cycles on the stack: a Scan click can start one while a tick's cycle waits.
    int m_cyclesRunning = 0;
    struct Placement
    {
        QWidget *control;
        QWidget *container;
    };
    // Controls made but not yet put into their containers, by tab index.
    std::multimap<int, Placement> m_placements;
};

} // namespace meterlog

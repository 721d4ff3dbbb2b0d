#pragma once

// "Find meters…": a bus scan of the main window's own line, with the window's polling paused
// while it runs. It shows how far it has got and what it has found, then offers to put the
// devices found into the window's slots and to save a line file that runs them. Closing it stops
// the scan at once; it deletes itself when closed, but never while its scan is still running.

#include <QDialog>
#include <QList>

#include "modbus/busscan.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace meterlog {

class Form1;

class FindMetersDialog : public QDialog
{
    Q_OBJECT

public:
    // Asks `addresses` in order on the window's link, once the window has stopped polling it.
    explicit FindMetersDialog(Form1 &window, QList<int> addresses = everyDeviceAddress());

    void done(int result) override;

private:
    enum class Stage {
        WaitingForTheLine, // polling is being paused
        Scanning,
        Ended, // or never began
    };

    void scan();
    void showFound(const FoundDevice &device);
    void showEnd(const BusScanReport &report, const QString &lineFile);
    void sayPortNotOpen();
    void putInSlots();
    void chooseLineFile();
    void saveTo(const QString &path);

    Form1 &m_window;
    const QList<int> m_addresses;
    Stage m_stage = Stage::WaitingForTheLine;
    Cancellation m_closing;
    QList<int> m_foundAddresses;
    QString m_lineFile; // the text to save

    QLabel *m_status;
    QProgressBar *m_progress;
    QTableWidget *m_table;
    QPushButton *m_putInSlots;
    QPushButton *m_saveLineFile;
};

} // namespace meterlog

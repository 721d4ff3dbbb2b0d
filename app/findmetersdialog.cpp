#include "app/findmetersdialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/busscanreport.h"
#include "app/form1.h"
#include "common/logcategories.h"

namespace meterlog {

namespace {

enum Column { addressColumn, modelColumn, evidenceColumn, columnCount };

} // namespace

FindMetersDialog::FindMetersDialog(Form1 &window, QList<int> addresses)
    : QDialog(&window)
    , m_window(window)
    , m_addresses(std::move(addresses))
    , m_status(new QLabel)
    , m_progress(new QProgressBar)
    , m_table(new QTableWidget(0, columnCount))
{
    setWindowTitle(QStringLiteral("Find meters"));
    m_status->setWordWrap(true);
    m_progress->setRange(0, int(m_addresses.size()));
    m_progress->setValue(0);
    m_progress->setFormat(busScanProgressText({0, int(m_addresses.size()), 0}));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Model"), QStringLiteral("Evidence")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    m_putInSlots
        = buttons->addButton(QStringLiteral("Put in the slots"), QDialogButtonBox::ActionRole);
    m_saveLineFile
        = buttons->addButton(QStringLiteral("Save line file…"), QDialogButtonBox::ActionRole);
    // Offered once the scan has ended.
    m_putInSlots->hide();
    m_saveLineFile->hide();
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_putInSlots, &QPushButton::clicked, this, &FindMetersDialog::putInSlots);
    connect(m_saveLineFile, &QPushButton::clicked, this, &FindMetersDialog::chooseLineFile);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    resize(720, 400);

    if (!m_window.link().isOpen()) {
        sayPortNotOpen();
        return;
    }
    m_status->setText(QStringLiteral("Waiting for the poll under way to end…"));
    connect(&m_window, &Form1::pollingPaused, this, &FindMetersDialog::scan);
    m_window.pausePolling();
}

void FindMetersDialog::done(int result)
{
    QDialog::done(result);
    // A scan running returns at once, and the dialog goes when it has.
    m_closing.cancel();
    if (m_stage == Stage::Scanning)
        return;
    if (m_stage == Stage::WaitingForTheLine)
        m_window.resumePolling();
    m_stage = Stage::Ended;
    deleteLater();
}

void FindMetersDialog::scan()
{
    if (m_stage != Stage::WaitingForTheLine)
        return;
    Link &link = m_window.link();
    // It may have closed while the last poll ended.
    if (!link.isOpen()) {
        m_window.resumePolling();
        sayPortNotOpen();
        return;
    }
    m_stage = Stage::Scanning;
    const QString port = link.name();
    // The line file names the port as the port box does (a by-id path, a port number, a
    // gateway's URL), not the device it led to, and has the line settings whatever the link, as
    // the command line's does.
    const QString portText = m_window.ComA->currentText();
    const QString lineSettings = m_window.port().settingsText();
    // A network link has no line settings of its own.
    const QString where = link.settingsText().isEmpty()
        ? port
        : QStringLiteral("%1 at %2").arg(port, link.settingsText());
    m_status->setText(
        QStringLiteral("Asking %1 addresses on %2. Polling waits until the scan has ended.")
            .arg(m_addresses.size())
            .arg(where));
    const auto plan
        = busScanPlan(m_addresses, busScanReplyLimit(m_window.port().settings().baudRate));
    const auto report = scanBus(link, m_window.framing(), plan, m_closing,
        [this](const BusScanProgress &progress, const FoundDevice *found) {
            m_progress->setValue(progress.asked);
            m_progress->setFormat(busScanProgressText(progress));
            if (found)
                showFound(*found);
        });
    m_window.resumePolling();
    qCInfo(lcScan).noquote()
        << QStringLiteral("find meters on %1: %2").arg(port, busScanSummary(report));
    if (m_closing.isCancelled()) {
        // Closed during the scan: nothing more to show.
        m_stage = Stage::Ended;
        deleteLater();
        return;
    }
    showEnd(
        report, busScanLineFile(portText, lineSettings, report, QDateTime::currentDateTimeUtc()));
}

void FindMetersDialog::showFound(const FoundDevice &device)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, addressColumn, new QTableWidgetItem(QString::number(device.address)));
    m_table->setItem(row, modelColumn, new QTableWidgetItem(foundModelText(device)));
    auto *evidence = new QTableWidgetItem(foundEvidenceText(device));
    // Longer than the column, as a rule.
    evidence->setToolTip(evidence->text());
    m_table->setItem(row, evidenceColumn, evidence);
    m_table->resizeColumnToContents(modelColumn);
    m_foundAddresses << device.address;
}

void FindMetersDialog::showEnd(const BusScanReport &report, const QString &lineFile)
{
    m_stage = Stage::Ended;
    m_lineFile = lineFile;
    m_status->setText(busScanSummary(report));
    m_putInSlots->setVisible(!m_foundAddresses.isEmpty());
    m_saveLineFile->show();
}

void FindMetersDialog::sayPortNotOpen()
{
    m_stage = Stage::Ended;
    m_status->setText(
        QStringLiteral("The port is not open: connect, then choose Find meters again."));
    m_progress->hide();
}

void FindMetersDialog::putInSlots()
{
    // The first devices found, as the operator would type them; slots left over are not asked.
    for (int slot = 0; slot < slotCount; ++slot) {
        const bool filled = slot < m_foundAddresses.size();
        if (filled)
            m_window.txtaID[slot]->setText(QString::number(m_foundAddresses[slot]));
        m_window.cheAID[slot]->setCheckState(filled ? Qt::Checked : Qt::Unchecked);
    }
}

void FindMetersDialog::chooseLineFile()
{
    // Opened without a nested event loop: the dialog may be closed meanwhile, taking it along.
    auto *files = new QFileDialog(
        this, QStringLiteral("Save line file"), QString(), QStringLiteral("Line files (*.toml)"));
    files->setAcceptMode(QFileDialog::AcceptSave);
    files->setDefaultSuffix(QStringLiteral("toml"));
    files->setAttribute(Qt::WA_DeleteOnClose);
    connect(files, &QFileDialog::fileSelected, this, &FindMetersDialog::saveTo);
    files->open();
}

void FindMetersDialog::saveTo(const QString &path)
{
    const auto failure = saveLineFile(path, m_lineFile);
    if (!failure) {
        m_status->setText(QStringLiteral("Line file saved: %1").arg(path));
        return;
    }
    qCWarning(lcFile).noquote() << *failure;
    m_status->setText(*failure);
}

} // namespace meterlog

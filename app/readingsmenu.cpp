#include "app/readingsmenu.h"

#include <QAction>
#include <QEvent>
#include <QMessageBox>

namespace meterlog {

ReadingsMenu::ReadingsMenu(QWidget &mainWindow, QWidget &readings)
    : QObject(&mainWindow)
    , m_mainWindow(mainWindow)
    , m_readings(&readings)
{
    auto *open = new QAction(QStringLiteral("Readings…"), &mainWindow);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(open, &QAction::triggered, this, &ReadingsMenu::openReadings);
    auto *about = new QAction(QStringLiteral("About meterlog"), &mainWindow);
    connect(about, &QAction::triggered, this, &ReadingsMenu::showAbout);
    mainWindow.addActions({open, about});
    mainWindow.setContextMenuPolicy(Qt::ActionsContextMenu);
    mainWindow.installEventFilter(this);
}

void ReadingsMenu::openReadings()
{
    if (!m_readings)
        return;
    m_readings->show();
    m_readings->raise();
    m_readings->activateWindow();
}

void ReadingsMenu::showAbout()
{
    // Not modal: polling goes on while it is open.
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("About meterlog"),
        QStringLiteral("meterlog %1\n\nPolls up to five electrical meters over Modbus and keeps "
                       "their latest readings in the snapshot file.\n\nQt %2")
            .arg(QStringLiteral(METERLOG_VERSION), QString::fromLatin1(qVersion())),
        QMessageBox::Ok, &m_mainWindow);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

bool ReadingsMenu::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_mainWindow && event->type() == QEvent::Hide && m_readings)
        m_readings->close();
    return QObject::eventFilter(watched, event);
}

} // namespace meterlog

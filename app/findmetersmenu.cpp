#include "app/findmetersmenu.h"

#include <QAction>

#include "app/findmetersdialog.h"
#include "app/form1.h"

namespace meterlog {

FindMetersMenu::FindMetersMenu(Form1 &window)
    : QObject(&window)
    , m_window(window)
{
    auto *find = new QAction(QStringLiteral("Find meters…"), &window);
    connect(find, &QAction::triggered, this, &FindMetersMenu::openFindMeters);
    window.addAction(find);
    window.setContextMenuPolicy(Qt::ActionsContextMenu);
}

void FindMetersMenu::openFindMeters()
{
    // One closed a moment ago keeps the line until its scan has returned and it is gone.
    if (!m_dialog) {
        m_dialog = new FindMetersDialog(m_window);
        m_dialog->show();
    }
    m_dialog->raise();
    m_dialog->activateWindow();
}

} // namespace meterlog

#pragma once

// The main window's "Find meters…" entry: a bus scan of the window's own line, in a dialog of its
// own. One scan at a time may have the line: choosing the entry again brings the open one
// forward.

#include <QObject>
#include <QPointer>

namespace meterlog {

class FindMetersDialog;
class Form1;

class FindMetersMenu : public QObject
{
    Q_OBJECT

public:
    explicit FindMetersMenu(Form1 &window);

    void openFindMeters();

private:
    Form1 &m_window;
    QPointer<FindMetersDialog> m_dialog; // it deletes itself when closed
};

} // namespace meterlog

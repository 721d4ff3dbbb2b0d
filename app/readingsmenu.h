#pragma once

// The main window's context menu: "Readings…" (also Ctrl+R) opens the readings window and
// "About meterlog" says what the program is. The main window knows nothing of them. Closing the
// main window closes the readings window too, so that the program ends as it always has.

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace meterlog {

class ReadingsMenu : public QObject
{
    Q_OBJECT

public:
    ReadingsMenu(QWidget &mainWindow, QWidget &readings);

    void openReadings();
    void showAbout();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget &m_mainWindow;
    QPointer<QWidget> m_readings; // it may go first at the end
};

} // namespace meterlog

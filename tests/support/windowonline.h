// The window polling meters scripted on a pseudo-terminal linked as com9 in a folder of its own.
// Whatever a test schedules takes the fixture as its context, so it dies with the fixture and can
// never fire in the next test.
#pragma once

#include <QObject>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

#include "app/form1.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/scriptedmeter.h"

// Scripted meters answer within milliseconds: a meter that does not answer need not cost the
// 500 ms a real one is given.
inline constexpr std::chrono::milliseconds scriptedReplyLimit {150};

class WindowOnLine : public QObject
{
public:
    WindowOnLine();
    ~WindowOnLine() override;

    // Starts the scripted meters, then the window with its start-up; its reply limit is
    // scriptedReplyLimit unless `start` says otherwise.
    void startUp(ScriptedMeter::Script script, meterlog::StartValues start = scriptedStart());
    // The same, with the poll timer stopped and only slot 1 ticked, so that each test decides
    // when to scan and what.
    void startUpSlotOneByHand(ScriptedMeter::Script script);

    meterlog::Form1 &form() { return *m_form; }
    PseudoTerminal &line() { return *m_line; }
    ScriptedMeter &meter() { return *m_meter; }
    QString folder() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray snapshot() const;

    static meterlog::StartValues scriptedStart();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PseudoTerminal> m_line;
    std::unique_ptr<ScriptedMeter> m_meter;
    std::unique_ptr<meterlog::Form1> m_form;
};

// The snapshot file in `folder` as it is, or "<missing>".
QByteArray readSnapshot(const QString &folder);

// What the grid shows for register `row` of a device-coded meter: " 3007" for device 3, row 8.
QString deviceCodedCell(int device, int row);

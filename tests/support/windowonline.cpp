#include "tests/support/windowonline.h"

#include <QCheckBox>
#include <QFile>
#include <QTimer>

#include "table/snapshotfile.h"

WindowOnLine::WindowOnLine()
    : m_line(std::make_unique<PseudoTerminal>())
{
    m_line->linkAs(m_dir.filePath(QStringLiteral("com9")));
}

WindowOnLine::~WindowOnLine()
{
    // The window first: it still holds the port the line leads to.
    m_form.reset();
    m_meter.reset();
    m_line.reset();
}

void WindowOnLine::startUp(ScriptedMeter::Script script, meterlog::StartValues start)
{
    m_meter = std::make_unique<ScriptedMeter>(*m_line, std::move(script));
    m_form = std::make_unique<meterlog::Form1>(m_dir.path(), std::move(start));
    m_form->Form_Load();
}

meterlog::StartValues WindowOnLine::scriptedStart()
{
    meterlog::StartValues start;
    start.replyLimit = scriptedReplyLimit;
    return start;
}

void WindowOnLine::startUpSlotOneByHand(ScriptedMeter::Script script)
{
    startUp(std::move(script));
    m_form->Timer3->stop();
    for (int slot = 1; slot < meterlog::slotCount; ++slot)
        m_form->cheAID[slot]->setCheckState(Qt::Unchecked);
}

QByteArray WindowOnLine::snapshot() const
{
    return readSnapshot(m_dir.path());
}

QByteArray readSnapshot(const QString &folder)
{
    QFile file(meterlog::snapshotPath(folder));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString deviceCodedCell(int device, int row)
{
    return QStringLiteral(" %1").arg(deviceCodedWords(device, row).constLast());
}

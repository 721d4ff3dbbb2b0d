#include "tests/support/logcapture.h"

namespace {
LogCapture *active = nullptr;
}

LogCapture::LogCapture()
{
    active = this;
    m_previous = qInstallMessageHandler(&LogCapture::collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    active = nullptr;
}

void LogCapture::collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        std::lock_guard lock(active->m_mutex);
        active->m_lines.append({QString::fromLatin1(context.category), text});
    }
    // Still shown, so a failing test's output tells the story.
    active->m_previous(type, context, text);
}

QStringList LogCapture::lines(const char *category) const
{
    std::lock_guard lock(m_mutex);
    QStringList texts;
    for (const auto &line : m_lines) {
        if (line.category == QLatin1String(category))
            texts << line.text;
    }
    return texts;
}

void LogCapture::clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

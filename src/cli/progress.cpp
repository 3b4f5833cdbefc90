#include "progress.h"

#include "console.h"

#include <QLocale>

namespace {

// Rewritten no more often than this: the terminal costs more than the counting.
constexpr qint64 IntervalMs = 250;

} // namespace

ProgressLine::ProgressLine(FILE *stream)
    : m_stream(isTerminal(stream) ? stream : nullptr)
{
}

void ProgressLine::attach(Summer &summer)
{
    if (!m_stream)
        return;
    m_sinceStart.start();
    summer.setProgressHandler([this](const Summer::Progress &progress) { update(progress); });
}

void ProgressLine::update(const Summer::Progress &progress)
{
    const qint64 now = m_sinceStart.elapsed();
    if (m_lastShownMs >= 0 && now - m_lastShownMs < IntervalMs)
        return;
    m_lastShownMs = now;
    QString text;
    if (progress.reports > 0) {
        text = QStringLiteral("Записано сводных отчетов: %1 из %2").arg(progress.reportsWritten).arg(progress.reports);
    } else {
        const double seconds = std::max(now, qint64(1)) / 1000.0;
        text = QStringLiteral("Прочитано файлов: %1 из %2, %3 МБ/с")
                   .arg(progress.filesRead)
                   .arg(progress.files)
                   .arg(QLocale::c().toString(progress.bytesRead / 1e6 / seconds, 'f', 1));
    }
    rewriteLine(m_stream, text);
    m_shown = true;
}

void ProgressLine::clear()
{
    if (!m_shown)
        return;
    rewriteLine(m_stream, QString());
    m_shown = false;
}

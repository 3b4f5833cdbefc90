#include "progress.h"

#include "console.h"

#include <QLocale>

namespace {

// Rewritten no more often than this: the terminal costs more than the counting.
constexpr qint64 IntervalMs = 250;

} // namespace

ProgressLine::ProgressLine(FILE *stream)
    : stream(isTerminal(stream) ? stream : nullptr)
{
}

void ProgressLine::attach(Summer &summer)
{
    if (!stream)
        return;
    sinceStart.start();
    summer.setProgressHandler([this](const Summer::Progress &progress) { update(progress); });
}

void ProgressLine::update(const Summer::Progress &progress)
{
    // The notices that only say how much there is to do show nothing yet.
    if (progress.filesRead == 0 && progress.reportsWritten == 0)
        return;
    const qint64 now = sinceStart.elapsed();
    if (lastShownMs >= 0 && now - lastShownMs < IntervalMs)
        return;
    lastShownMs = now;
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
    rewriteLine(stream, text);
    shown = true;
}

void ProgressLine::clear()
{
    if (!shown)
        return;
    rewriteLine(stream, QString());
    shown = false;
}

#include "console.h"

#include <QByteArray>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
// Writes line to stream's console and returns true, or returns false when
// the stream is not a console (redirected to a file or a pipe).
bool writeToConsole(FILE *stream, const QString &line)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    std::fflush(stream);
    const auto *chars = reinterpret_cast<const wchar_t *>(line.utf16());
    DWORD left = DWORD(line.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(handle, chars, left, &written, nullptr) || written == 0)
            break;
        chars += written;
        left -= written;
    }
    return true;
}
#endif

} // namespace

void writeLine(FILE *stream, const QString &text)
{
#ifdef Q_OS_WIN
    if (writeToConsole(stream, text + QLatin1String("\r\n")))
        return;
#endif
    // On Windows the C runtime's text mode turns this "\n" into "\r\n".
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool isTerminal(FILE *stream)
{
#ifdef Q_OS_WIN
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
#else
    return ::isatty(::fileno(stream)) == 1;
#endif
}

void rewriteLine(FILE *stream, const QString &text)
{
    // Blanks over whatever the longer line before left, then back to its start.
    static qsizetype shown = 0;
    const qsizetype length = text.size();
    QString line = QLatin1Char('\r') + text;
    if (shown > length)
        line += QString(shown - length, QLatin1Char(' ')) + QLatin1Char('\r') + text;
    shown = length;
#ifdef Q_OS_WIN
    if (writeToConsole(stream, line))
        return;
#endif
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

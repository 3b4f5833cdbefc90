#include "codepage.h"

#include <QByteArray>

#ifdef Q_OS_WIN
#include <qt_windows.h>

namespace {

// The Windows code page of an encoding name, or 0.
unsigned codePage(const QByteArray &name)
{
    if (name == "koi8-r")
        return 20866;
    if (name == "koi8-u")
        return 21866;
    if (name == "x-mac-cyrillic" || name == "mac-cyrillic")
        return 10007;
    for (const char *prefix : {"iso-8859-", "iso8859-", "iso_8859-"}) {
        if (name.startsWith(prefix)) {
            bool ok = false;
            const unsigned part = name.mid(qsizetype(qstrlen(prefix))).toUInt(&ok);
            return ok && part >= 1 && part <= 15 && part != 12 ? 28590 + part : 0;
        }
    }
    for (const char *prefix : {"windows-", "x-cp", "cp", "ibm"}) {
        if (name.startsWith(prefix)) {
            bool ok = false;
            const unsigned number = name.mid(qsizetype(qstrlen(prefix))).toUInt(&ok);
            return ok ? number : 0;
        }
    }
    return 0;
}

} // namespace

bool windowsCodePageMap(const char *name, int map[256])
{
    const unsigned cp = codePage(QByteArray(name).toLower());
    CPINFO info;
    if (cp == 0 || !GetCPInfo(cp, &info) || info.MaxCharSize != 1)
        return false;
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        wchar_t c = 0;
        const bool one = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, &byte, 1, &c, 1) == 1;
        map[b] = one && (c < 0xd800 || c > 0xdfff) && c != 0xfffd ? int(c) : -1;
    }
    return true;
}

#else

bool windowsCodePageMap(const char *, int[256])
{
    return false;
}

#endif

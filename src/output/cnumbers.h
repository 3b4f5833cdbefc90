#ifndef CNUMBERS_H
#define CNUMBERS_H

#include <QByteArray>

#include <clocale>

#include <locale.h>

// While it lives, the C library prints the numbers of this thread the C way,
// with a decimal point whatever the locale. libxlsxwriter prints numbers with
// snprintf, which writes the locale's decimal separator: under ru_RU a comma,
// which no reader takes.
class CNumbers
{
public:
    CNumbers();
    ~CNumbers();
    CNumbers(const CNumbers &) = delete;
    CNumbers &operator=(const CNumbers &) = delete;

private:
#ifdef Q_OS_WIN
    int previousMode = 0;
    QByteArray previousName = "C";
#else
    locale_t cLocale = locale_t(0);
    locale_t previous = locale_t(0);
#endif
};

#endif // CNUMBERS_H

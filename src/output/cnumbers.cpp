#include "cnumbers.h"

CNumbers::CNumbers()
{
#ifdef Q_OS_WIN
    previousMode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
    if (const char *name = std::setlocale(LC_NUMERIC, nullptr))
        previousName = name;
    std::setlocale(LC_NUMERIC, "C");
#else
    cLocale = newlocale(LC_NUMERIC_MASK, "C", duplocale(LC_GLOBAL_LOCALE));
    if (cLocale != locale_t(0))
        previous = uselocale(cLocale);
#endif
}

CNumbers::~CNumbers()
{
#ifdef Q_OS_WIN
    std::setlocale(LC_NUMERIC, previousName.constData());
    _configthreadlocale(previousMode);
#else
    if (cLocale != locale_t(0)) {
        uselocale(previous);
        freelocale(cLocale);
    }
#endif
}

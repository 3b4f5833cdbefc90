#include "workbook.h"

#include "summer.h"

Workbook::Workbook(const Summer &summer, const QString &okpo)
    : summer(summer)
    , okpo(okpo)
{
}

bool Workbook::write(const QString &path)
{
    errorText = QStringLiteral("Не удалось записать файл ") + path;
    return false;
}

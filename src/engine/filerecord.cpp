#include "filerecord.h"

QString PassedOverValue::reasonText(Reason reason)
{
    switch (reason) {
    case Reason::Section:
        return QStringLiteral("раздел");
    case Reason::Row:
        return QStringLiteral("строка");
    case Reason::Col:
        return QStringLiteral("графа");
    case Reason::Value:
        break;
    }
    return QStringLiteral("значение");
}

QString FileRecord::elementText() const
{
    switch (element) {
    case Element::Report:
        return QStringLiteral("report");
    case Element::Draft:
        return QStringLiteral("draft");
    case Element::None:
        break;
    }
    return QString();
}

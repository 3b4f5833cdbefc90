#include "filerecord.h"

QString PassedOverValue::field(Field field) const
{
    qsizetype from = 0;
    for (int i = 0; i < field && from >= 0; ++i) {
        const qsizetype end = fieldBytes.indexOf('\0', from);
        from = end < 0 ? -1 : end + 1;
    }
    if (from < 0 || from >= fieldBytes.size())
        return QString();
    const qsizetype to = fieldBytes.indexOf('\0', from);
    return QString::fromUtf8(fieldBytes.constData() + from, (to < 0 ? fieldBytes.size() : to) - from);
}

void PassedOverValue::setFields(const std::array<std::string_view, FieldCount> &fields)
{
    qsizetype size = 0;
    for (const std::string_view f : fields)
        size += qsizetype(f.size()) + 1;
    fieldBytes.clear();
    fieldBytes.reserve(size);
    for (const std::string_view f : fields)
        fieldBytes.append(f.data(), qsizetype(f.size())).append('\0');
}

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

#include "messages.h"

namespace messages {

QString notWritten(const QString &file)
{
    return QStringLiteral("Не удалось записать файл ") + file;
}

} // namespace messages

#ifndef MESSAGES_H
#define MESSAGES_H

#include <QString>

// Texts for the user that more than one part of the program says.
namespace messages {

// "Не удалось записать файл FILE": a file that could not be written whole.
QString notWritten(const QString &file);

} // namespace messages

#endif // MESSAGES_H

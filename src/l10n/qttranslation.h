#ifndef QTTRANSLATION_H
#define QTTRANSLATION_H

#include <QString>
#include <QStringList>

class QCoreApplication;

// Qt's own texts in Russian: the file and folder dialogs, the context menus
// of text fields, the standard buttons, the command line's help. Qt ships
// them as qtbase_ru.qm; both programs load it at start, whatever the
// system's language, before they build any text.
namespace qttranslation {

// The folders looked in, in this order: translations/ beside the program
// (where the Windows packages put it, and where an unpacked copy keeps it),
// then Qt's own translations folder (where Debian's qt6-translations-l10n
// puts it).
QStringList folders(const QString &programFolder);

// Loads qtbase_ru.qm from the first of folders() that has it into app, which
// keeps it. Returns the file loaded, or an empty text when none was found:
// the programs then speak Qt's English, as before.
QString install(QCoreApplication *app);

} // namespace qttranslation

#endif // QTTRANSLATION_H

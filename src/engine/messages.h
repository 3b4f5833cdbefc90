#ifndef MESSAGES_H
#define MESSAGES_H

#include <QString>
#include <QStringList>

// The texts the program says to the user, in one place: the engine's errors,
// warnings and notes, and those that more than one part of the program says.
namespace messages {

// "Не удалось записать файл FILE": a file that could not be written whole.
QString notWritten(const QString &file);

// A listed file that could not be read: it has no <report> or <draft>, is not
// well-formed XML (line and column from 1), or could not be opened or read.
QString noReportElement(const QString &file);
QString xmlError(const QString &file, qint64 line, qint64 column);
QString noAccess(const QString &file);

// The source folder is not there, or holds no *.xml entry.
QString noSourceFolder();
QString noReportFiles();

// A summed report's file name with a character no file name may have, or one
// that another summed report's name gives too.
QString forbiddenName(const QString &name);
QString sharedName(const QString &name);
// A summed report's file could not be opened for writing.
QString notOpened();

// Warnings: one okpo more than once in a summed report (files in list order),
// and a file with numbers that were passed over.
QString sameOkpo(const QString &okpo, const QString &report, const QStringList &files);
QString lostNumbers(const QString &file, qint64 count);
// Warnings of a run that reads its own output: a file named as its summed
// report and carrying the head organisation's code okpo, and summed reports
// written into the folder they were read from.
QString earlierSum(const QString &file, const QString &okpo);
QString intoInputFolder();

// Why a table or the workbook may not go to file (as the user named it): it
// would take the place of a report, read or written by the run.
QString reportTarget(const QString &file);

// The note that ends the list of values passed over when it holds only the
// first kept of all of them.
QString passedOverCut(qint64 kept, qint64 all);

} // namespace messages

#endif // MESSAGES_H

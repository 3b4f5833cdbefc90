#ifndef OUTPUTFILE_H
#define OUTPUTFILE_H

#include <QByteArray>
#include <QString>

class QIODevice;

// The file a table or a workbook goes to (its target), as the user names it:
// "-" is standard output; an existing file that is not a regular one (a
// device such as /dev/stdout, a FIFO) is opened and written as it is, never
// replaced; anything else (a regular file, a new name) gets its bytes through
// a temporary file renamed into place, so that it is either whole or untouched.
namespace outputfile {

bool isStandardOutput(const QString &target);

// What target names once links and relative parts are resolved (see
// resolvedPath()), for telling whether two targets are one file: "-" for
// standard output.
QString identity(const QString &target);

// Why target may not be written, or an empty text: it names a file named
// *.xml (letter case ignored) in inputFolder or outputFolder, the folders of
// a run's reports and summed reports, or is a link that leads to one (folders
// compared once links and relative parts are resolved, a folder not made yet
// as far as it exists). Those are the run's reports, read or written by it. A
// table or the workbook is checked with it before a run reads anything, and
// the line given ("Нельзя записать TARGET: ...") tells the user why not.
// Standard output is never refused.
QString refusal(const QString &target, const QString &inputFolder, const QString &outputFolder);

// Writes everything source has left to target. False when the target could
// not be opened or did not take every byte (a full disk, /dev/full).
bool save(const QString &target, QIODevice *source);
bool save(const QString &target, const QByteArray &bytes);

} // namespace outputfile

#endif // OUTPUTFILE_H

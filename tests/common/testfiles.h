#ifndef SVODAR_TESTFILES_H
#define SVODAR_TESTFILES_H

// Files written and read by the tests, the one place for it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tu {

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<cannot open ") + path.toUtf8() + ">";
    return f.readAll();
}

// Every file of a folder, by name.
inline QMap<QString, QByteArray> folderContents(const QString &path)
{
    QMap<QString, QByteArray> files;
    const QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files))
        files.insert(name, readFile(dir.filePath(name)));
    return files;
}

// Sorted list of the entries of a folder (files and folders, hidden ones included).
inline QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

} // namespace tu

#endif // SVODAR_TESTFILES_H

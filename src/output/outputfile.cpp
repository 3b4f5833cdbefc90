#include "outputfile.h"

#include "messages.h"
#include "resolvedpath.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace outputfile {
namespace {

bool copy(QIODevice *source, QIODevice *to)
{
    constexpr qint64 BlockSize = 1 << 20;
    QByteArray block(BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = source->read(block.data(), BlockSize);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (to->write(block.constData(), n) != n)
            return false;
    }
}

// Whether file would be one of the reports of a run that reads the folder
// input and writes into output (both resolved): named *.xml, in either.
bool amongReports(const QString &file, const QString &input, const QString &output)
{
    const QFileInfo info(file);
    QString name = info.fileName();
#ifdef Q_OS_WIN
    // Windows drops the dots and blanks at the end of a name: "a.xml." is a.xml.
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
#endif
    if (!name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
        return false;
    const QString folder = resolvedPath(info.path());
    return folder == input || folder == output;
}

} // namespace

QString refusal(const QString &target, const QString &inputFolder, const QString &outputFolder)
{
    if (isStandardOutput(target))
        return QString();
    const QString input = resolvedPath(inputFolder);
    const QString output = resolvedPath(outputFolder);
    // The target as named, then each link on the way to the file written,
    // which need not be there yet. A loop of links ends the walk: no file is
    // written there.
    QString file = target;
    for (int hops = 0; hops <= 40; ++hops) {
        if (amongReports(file, input, output))
            return messages::reportTarget(target);
        const QFileInfo info(file);
        if (!info.isSymbolicLink())
            break;
        file = info.symLinkTarget();
    }
    return QString();
}

bool isStandardOutput(const QString &target)
{
    return target == QLatin1String("-");
}

QString identity(const QString &target)
{
    return isStandardOutput(target) ? target : resolvedPath(target);
}

bool save(const QString &target, QIODevice *source)
{
    if (isStandardOutput(target)) {
        std::fflush(stdout);
#ifdef Q_OS_WIN
        const int fd = _fileno(stdout);
        _setmode(fd, _O_BINARY); // no CR before each LF of the bytes
#else
        const int fd = fileno(stdout);
#endif
        QFile out;
        return out.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered) && copy(source, &out);
    }
    const QFileInfo info(target);
    if (info.exists() && !info.isFile()) {
        // A device or a FIFO: replacing it would destroy it, and its reader
        // would wait for ever.
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !copy(source, &out))
            return false;
        out.close();
        return out.error() == QFileDevice::NoError;
    }
    QSaveFile out(target);
    return out.open(QIODevice::WriteOnly) && copy(source, &out) && out.commit();
}

bool save(const QString &target, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return save(target, &buffer);
}

} // namespace outputfile

#include "resolvedpath.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

QString resolvedPath(const QString &path)
{
    QString existing = path.isEmpty() ? QStringLiteral(".") : QDir::fromNativeSeparators(path);
    QStringList rest; // the names below the part that exists, outermost first
    for (;;) {
        // "out/" is "out", but "/" stays the root.
        while (existing.size() > 1 && existing.endsWith(QLatin1Char('/')) && !existing.endsWith(QLatin1String(":/")))
            existing.chop(1);
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty()) {
            rest.prepend(canonical);
            break;
        }
        const QFileInfo info(existing);
        const QString parent = info.path();
        if (info.fileName().isEmpty() || parent == existing) {
            // Not even its root is there: as written, made absolute.
            rest.prepend(info.absoluteFilePath());
            break;
        }
        rest.prepend(info.fileName());
        existing = parent;
    }
    QString resolved = QDir::cleanPath(rest.join(QLatin1Char('/')));
#ifdef Q_OS_WIN
    resolved = resolved.toCaseFolded();
#endif
    return resolved;
}

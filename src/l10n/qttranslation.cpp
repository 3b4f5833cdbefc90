#include "qttranslation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace qttranslation {
namespace {

const QString FileName = QStringLiteral("qtbase_ru.qm");

} // namespace

QStringList folders(const QString &programFolder)
{
    return {QDir(programFolder).filePath(QStringLiteral("translations")),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

QString install(QCoreApplication *app)
{
    for (const QString &folder : folders(QCoreApplication::applicationDirPath())) {
        const QString path = QDir(folder).filePath(FileName);
        if (!QFileInfo(path).isFile())
            continue;
        auto *translator = new QTranslator(app);
        if (translator->load(path) && QCoreApplication::installTranslator(translator))
            return path;
        delete translator;
    }
    return QString();
}

} // namespace qttranslation

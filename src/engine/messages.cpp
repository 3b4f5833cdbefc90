#include "messages.h"

namespace messages {
namespace {

QString notRead(const QString &file)
{
    return QStringLiteral("Не удалось прочитать файл ") + file;
}

// Thousands set apart by a space, whatever the user's locale.
QString grouped(qint64 n)
{
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(' '));
    return digits;
}

} // namespace

QString notWritten(const QString &file)
{
    return QStringLiteral("Не удалось записать файл ") + file;
}

QString noReportElement(const QString &file)
{
    return notRead(file) + QStringLiteral(" : не найден тег <report> или <draft>");
}

QString xmlError(const QString &file, qint64 line, qint64 column)
{
    return notRead(file) + QStringLiteral(" : ошибка XML в строке %1, столбце %2").arg(line).arg(column);
}

QString noAccess(const QString &file)
{
    return notRead(file) + QStringLiteral(" : нет доступа к файлу");
}

QString noSourceFolder()
{
    return QStringLiteral("Не удаётся нейти исходную папку");
}

QString noReportFiles()
{
    return QStringLiteral("В исходной папке нет xml-файлов");
}

QString forbiddenName(const QString &name)
{
    return QStringLiteral("Недопустимое имя файла: ") + name;
}

QString sharedName(const QString &name)
{
    return QStringLiteral("Разные отчеты дают одно имя файла: ") + name;
}

QString notOpened()
{
    return QStringLiteral("Не получается открыть файл для записи");
}

QString sameOkpo(const QString &okpo, const QString &report, const QStringList &files)
{
    return QStringLiteral("Предупреждение: ОКПО %1 входит в сводный отчет %2 несколько раз: %3")
        .arg(okpo, report, files.join(QStringLiteral(", ")));
}

QString lostNumbers(const QString &file, qint64 count)
{
    // One arg() call: a "%2" in the file's name stays as it is.
    return QStringLiteral("Предупреждение: в файле %1 не учтено чисел: %2").arg(file, QString::number(count));
}

QString earlierSum(const QString &file, const QString &okpo)
{
    return QStringLiteral("Предупреждение: файл %1 похож на сводный отчет прошлого запуска (имя сводного отчета, "
                          "ОКПО головной организации %2): его числа учтены еще раз")
        .arg(file, okpo);
}

QString intoInputFolder()
{
    return QStringLiteral("Предупреждение: сводные отчеты записаны в папку с отчетами; при следующем запуске они "
                          "будут просуммированы вместе с отчетами");
}

QString reportTarget(const QString &file)
{
    return QStringLiteral("Нельзя записать %1: файлы *.xml в папке с отчетами и в папке для сводных отчетов — "
                          "это отчеты")
        .arg(file);
}

QString passedOverCut(qint64 kept, qint64 all)
{
    return QStringLiteral("Примечание: в перечень пропущенных значений вошли первые %1 из %2")
        .arg(grouped(kept), grouped(all));
}

} // namespace messages

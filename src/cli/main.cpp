// svodar-cli: sums a folder of reports from the command line, exactly as the
// window's start button does.

#include "console.h"
#include "csv.h"
#include "progress.h"
#include "summer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>

namespace {

enum ExitCode {
    Success = 0,
    ReadFailure = 1,
    WriteFailure = 2,
    Warned = 3, // with --strict: the warnings stopped the run
    UsageError = 64, // EX_USAGE
};

void print(FILE *stream, const QString &text)
{
    writeLine(stream, text);
}

bool saveFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("svodar-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SVODAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Суммирует отчеты одной формы и периода из папки INPUT_DIR "
                       "и записывает сводные отчеты в папку OUTPUT_DIR."));
    const QCommandLineOption okpoOption(QStringLiteral("okpo"),
                                        QStringLiteral("Код ОКПО головной организации."),
                                        QStringLiteral("CODE"));
    parser.addOption(okpoOption);
    const QCommandLineOption registerOption(
        QStringLiteral("register"),
        QStringLiteral("Записать в FILE (CSV) перечень прочитанных файлов."),
        QStringLiteral("FILE"));
    parser.addOption(registerOption);
    const QCommandLineOption passedOverOption(
        QStringLiteral("passed-over"),
        QStringLiteral("Записать в FILE (CSV) пропущенные значения."),
        QStringLiteral("FILE"));
    parser.addOption(passedOverOption);
    const QCommandLineOption strictOption(
        QStringLiteral("strict"),
        QStringLiteral("При предупреждениях не записывать сводные отчеты."));
    parser.addOption(strictOption);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("INPUT_DIR"),
                                 QStringLiteral("Папка с отчетами."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT_DIR"),
                                 QStringLiteral("Папка для просуммированных отчетов."));

    if (!parser.parse(QCoreApplication::arguments())) {
        print(stderr, parser.errorText());
        print(stderr, parser.helpText());
        return UsageError;
    }
    // Printed here rather than by showHelp() and showVersion(), so that they
    // reach a Windows console the same way as every other message.
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.chop(help.endsWith(QLatin1Char('\n')) ? 1 : 0);
        print(stdout, help);
        return Success;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ')
                      + QCoreApplication::applicationVersion());
        return Success;
    }

    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 2) {
        print(stderr, QStringLiteral("Нужно указать две папки: INPUT_DIR и OUTPUT_DIR."));
        print(stderr, parser.helpText());
        return UsageError;
    }

    Summer summer;
    // The values passed over are kept only for an option that writes them.
    summer.setKeepPassedOver(parser.isSet(passedOverOption));
    ProgressLine progress(stderr);
    progress.attach(summer);
    const bool read = summer.readReports(paths.at(0));
    progress.clear();
    if (!read) {
        print(stderr, QStringLiteral("Ошибка чтения: ") + summer.lastError());
        return ReadFailure;
    }
    const QStringList warnings = summer.warnings();
    for (const QString &warning : warnings)
        print(stderr, warning);
    if (const QString note = summer.passedOverNote(); !note.isEmpty())
        print(stderr, note);
    // The register and the list of values passed over explain the run, so they
    // are written before the summed reports, and even when warnings stop it.
    const std::pair<const QCommandLineOption &, QByteArray (*)(const QList<FileRecord> &)> tables[] = {
        {registerOption, csv::registerTable},
        {passedOverOption, csv::passedOverTable},
    };
    for (const auto &[option, table] : tables) {
        if (!parser.isSet(option))
            continue;
        const QString file = parser.value(option);
        if (!saveFile(file, table(summer.fileRecords()))) {
            print(stderr, QStringLiteral("Ошибка записи: Не удалось записать файл ") + file);
            return WriteFailure;
        }
    }
    if (parser.isSet(strictOption) && !warnings.isEmpty())
        return Warned;
    const bool written = summer.writeReports(paths.at(1), parser.value(okpoOption));
    progress.clear();
    if (!written) {
        print(stderr, QStringLiteral("Ошибка записи: ") + summer.lastError());
        return WriteFailure;
    }
    print(stdout, QStringLiteral("Отчеты были успешно просуммированны"));
    return Success;
}

// svodar-cli: sums a folder of reports from the command line, exactly as the
// window's start button does.

#include "console.h"
#include "csv.h"
#include "messages.h"
#include "outputfile.h"
#include "progress.h"
#include "summer.h"
#include "workbook.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

#include <algorithm>

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

// The tables and the workbook named on the command line, in the order they are
// written, as "--option" and the file.
using Targets = QList<std::pair<QString, QString>>;

// Why these targets cannot all be written, or an empty text: standard output
// takes one file at most, and no two options may name one file.
QString targetConflict(const Targets &targets)
{
    QHash<QString, QString> options; // by what the file resolves to
    for (const auto &[option, file] : targets) {
        const QString identity = outputfile::identity(file);
        const QString other = options.value(identity);
        if (other.isEmpty()) {
            options.insert(identity, option);
        } else if (outputfile::isStandardOutput(file)) {
            return QStringLiteral("В стандартный вывод (-) можно записать только один файл: %1 и %2.")
                .arg(other, option);
        } else {
            return QStringLiteral("Параметры %1 и %2 указывают на один и тот же файл: %3")
                .arg(other, option, file);
        }
    }
    return QString();
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
    const QCommandLineOption workbookOption(
        QStringLiteral("workbook"),
        QStringLiteral("Записать в FILE (книга Excel, .xlsx) перечень файлов, пропущенные значения, "
                       "предупреждения и сводные отчеты."),
        QStringLiteral("FILE"));
    parser.addOption(workbookOption);
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

    // The tables and the workbook; "-" is standard output, which then holds
    // that file alone.
    Targets targets;
    for (const QCommandLineOption *option : {&registerOption, &passedOverOption, &workbookOption}) {
        if (parser.isSet(*option))
            targets.append({QStringLiteral("--") + option->names().constFirst(), parser.value(*option)});
    }
    const QString conflict = targetConflict(targets);
    if (!conflict.isEmpty()) {
        print(stderr, conflict);
        return UsageError;
    }
    const bool toStandardOutput = std::any_of(targets.cbegin(), targets.cend(), [](const auto &t) {
        return outputfile::isStandardOutput(t.second);
    });

    Summer summer;
    // The values passed over are kept only for an option that writes them.
    summer.setKeepPassedOver(parser.isSet(passedOverOption) || parser.isSet(workbookOption));
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
    // The register, the list of values passed over and the workbook explain
    // the run, so they are written before the summed reports, and even when
    // warnings stop it.
    const std::pair<const QCommandLineOption &, QByteArray (*)(const QList<FileRecord> &)> tables[] = {
        {registerOption, csv::registerTable},
        {passedOverOption, csv::passedOverTable},
    };
    for (const auto &[option, table] : tables) {
        if (!parser.isSet(option))
            continue;
        const QString file = parser.value(option);
        if (!outputfile::save(file, table(summer.fileRecords()))) {
            print(stderr, QStringLiteral("Ошибка записи: ") + messages::notWritten(file));
            return WriteFailure;
        }
    }
    if (parser.isSet(workbookOption)) {
        Workbook workbook(summer.runRecord(), parser.value(okpoOption));
        if (!workbook.write(parser.value(workbookOption))) {
            print(stderr, QStringLiteral("Ошибка записи: ") + workbook.lastError());
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
    print(toStandardOutput ? stderr : stdout, QStringLiteral("Отчеты были успешно просуммированны"));
    return Success;
}

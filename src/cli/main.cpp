// svodar-cli: sums a folder of reports from the command line, exactly as the
// window's start button does.

#include "console.h"
#include "csv.h"
#include "messages.h"
#include "outputfile.h"
#include "progress.h"
#include "qttranslation.h"
#include "summer.h"
#include "workbook.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <optional>

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

// A table or the workbook named on the command line.
struct Target
{
    enum Kind { Register, PassedOver, Workbook };
    Kind kind;
    QString option; // as "--option"
    QString file;
};

// What the command line asks for.
struct Options
{
    QString inputDir;
    QString outputDir;
    QString okpo;
    // In the order they are written; "-" is standard output, which then holds
    // that file alone.
    QList<Target> targets;
    bool strict = false;

    bool toStandardOutput() const
    {
        return std::any_of(targets.cbegin(), targets.cend(),
                           [](const Target &t) { return outputfile::isStandardOutput(t.file); });
    }
    // The values passed over are kept only for an option that writes them.
    bool keepPassedOver() const
    {
        return std::any_of(targets.cbegin(), targets.cend(),
                           [](const Target &t) { return t.kind != Target::Register; });
    }
};

// Why these targets cannot all be written, or an empty text: standard output
// takes one file at most, and no two options may name one file.
QString targetConflict(const QList<Target> &targets)
{
    QHash<QString, QString> options; // by what the file resolves to
    for (const Target &t : targets) {
        const QString identity = outputfile::identity(t.file);
        const QString other = options.value(identity);
        if (other.isEmpty()) {
            options.insert(identity, t.option);
        } else if (outputfile::isStandardOutput(t.file)) {
            return QStringLiteral("В стандартный вывод (-) можно записать только один файл: %1 и %2.")
                .arg(other, t.option);
        } else {
            return QStringLiteral("Параметры %1 и %2 указывают на один и тот же файл: %3")
                .arg(other, t.option, t.file);
        }
    }
    return QString();
}

// The options and arguments svodar-cli takes, with their help texts.
void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Суммирует отчеты одной формы и периода из папки INPUT_DIR "
                       "и записывает сводные отчеты в папку OUTPUT_DIR."));
    parser.addOption({QStringLiteral("okpo"), QStringLiteral("Код ОКПО головной организации."),
                      QStringLiteral("CODE")});
    parser.addOption({QStringLiteral("register"),
                      QStringLiteral("Записать в FILE (CSV) перечень прочитанных файлов."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("passed-over"), QStringLiteral("Записать в FILE (CSV) пропущенные значения."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("workbook"),
                      QStringLiteral("Записать в FILE (книга Excel, .xlsx) перечень файлов, пропущенные значения, "
                                     "предупреждения и сводные отчеты."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("strict"), QStringLiteral("При предупреждениях не записывать сводные отчеты.")});
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("INPUT_DIR"), QStringLiteral("Папка с отчетами."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT_DIR"), QStringLiteral("Папка для просуммированных отчетов."));
}

// Fills options from the command line. When the program ends here (help, the
// version, a usage error), returns its exit code, with what it printed.
std::optional<ExitCode> parse(const QStringList &arguments, Options &options)
{
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments)) {
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
    options.inputDir = paths.at(0);
    options.outputDir = paths.at(1);
    options.okpo = parser.value(QStringLiteral("okpo"));
    options.strict = parser.isSet(QStringLiteral("strict"));
    const std::pair<Target::Kind, QString> targetOptions[] = {
        {Target::Register, QStringLiteral("register")},
        {Target::PassedOver, QStringLiteral("passed-over")},
        {Target::Workbook, QStringLiteral("workbook")},
    };
    for (const auto &[kind, name] : targetOptions) {
        if (parser.isSet(name))
            options.targets.append({kind, QStringLiteral("--") + name, parser.value(name)});
    }
    const QString conflict = targetConflict(options.targets);
    if (!conflict.isEmpty()) {
        print(stderr, conflict);
        return UsageError;
    }
    // A table or the workbook never takes a report's place.
    for (const Target &t : std::as_const(options.targets)) {
        const QString refusal = outputfile::refusal(t.file, options.inputDir, options.outputDir);
        if (!refusal.isEmpty()) {
            print(stderr, refusal);
            return UsageError;
        }
    }
    return std::nullopt;
}

// Writes the tables and the workbook, in order. Prints why one could not be
// written and returns false at the first that fails.
bool writeTargets(const QList<Target> &targets, const Summer &summer, const QString &okpo)
{
    for (const Target &t : targets) {
        if (t.kind == Target::Workbook) {
            Workbook workbook(summer.runRecord(), okpo);
            if (!workbook.write(t.file)) {
                print(stderr, QStringLiteral("Ошибка записи: ") + workbook.lastError());
                return false;
            }
            continue;
        }
        const QByteArray table = t.kind == Target::Register ? csv::registerTable(summer.fileRecords())
                                                            : csv::passedOverTable(summer.fileRecords());
        if (!outputfile::save(t.file, table)) {
            print(stderr, QStringLiteral("Ошибка записи: ") + messages::notWritten(t.file));
            return false;
        }
    }
    return true;
}

ExitCode run(const Options &options)
{
    Summer summer;
    summer.setKeepPassedOver(options.keepPassedOver());
    summer.setOutput(options.outputDir, options.okpo);
    ProgressLine progress(stderr);
    progress.attach(summer);
    const bool read = summer.readReports(options.inputDir);
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
    if (!writeTargets(options.targets, summer, options.okpo))
        return WriteFailure;
    if (options.strict && !warnings.isEmpty())
        return Warned;
    const bool written = summer.writeReports(options.outputDir, options.okpo);
    progress.clear();
    if (!written) {
        print(stderr, QStringLiteral("Ошибка записи: ") + summer.lastError());
        return WriteFailure;
    }
    print(options.toStandardOutput() ? stderr : stdout, QStringLiteral("Отчеты были успешно просуммированны"));
    return Success;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Before any text is made: the help's headings are Qt's own.
    qttranslation::install(&app);
    QCoreApplication::setApplicationName(QStringLiteral("svodar-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SVODAR_VERSION));

    Options options;
    if (const std::optional<ExitCode> end = parse(QCoreApplication::arguments(), options))
        return *end;
    return run(options);
}

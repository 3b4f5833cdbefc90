// svodar-cli: sums a folder of reports from the command line, exactly as the
// window's start button does.

#include "console.h"
#include "summer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

enum ExitCode {
    Success = 0,
    ReadFailure = 1,
    WriteFailure = 2,
    UsageError = 64, // EX_USAGE
};

void print(FILE *stream, const QString &text)
{
    writeLine(stream, text);
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
    if (!summer.readReports(paths.at(0))) {
        print(stderr, QStringLiteral("Ошибка чтения: ") + summer.lastError());
        return ReadFailure;
    }
    if (!summer.writeReports(paths.at(1), parser.value(okpoOption))) {
        print(stderr, QStringLiteral("Ошибка записи: ") + summer.lastError());
        return WriteFailure;
    }
    print(stdout, QStringLiteral("Отчеты были успешно просуммированны"));
    return Success;
}

#include "warningsbox.h"

#include "outputfile.h"
#include "workbook.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QThread>

#include <memory>
#include <utility>

namespace {

const QString showDetailsText = QStringLiteral("Подробности…");
const QString hideDetailsText = QStringLiteral("Скрыть подробности");
const QString saveText = QStringLiteral("Сохранить сводку…");
const QString savingText = QStringLiteral("Сохранение…");

WarningsBox::FileNameAsker &fileNameAsker()
{
    static WarningsBox::FileNameAsker asker;
    return asker;
}

// The text under the outcome line: the number of warnings, the first ten of
// them, one a line, and "и ещё N" for the rest.
QString summary(const QStringList &warnings)
{
    const int shown = 10;
    QStringList lines{QStringLiteral("Предупреждений: %1").arg(warnings.size())};
    lines += warnings.mid(0, shown);
    if (warnings.size() > shown)
        lines += QStringLiteral("и ещё %1").arg(warnings.size() - shown);
    return lines.join(QLatin1Char('\n'));
}

QLabel *plainLabel(const QString &name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    // Warnings quote file names from the input folder: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    return label;
}

} // namespace

WarningsBox::WarningsBox(RunRecord run, const QString &okpo, const QString &inputFolder,
                         const QString &outputFolder, QWidget *parent)
    : QDialog(parent)
    , run(std::move(run))
    , okpo(okpo)
    , inputFolder(inputFolder)
    , outputFolder(outputFolder)
{
    setObjectName(QStringLiteral("warningsBox"));
    setWindowTitle(QStringLiteral("Есть предупреждения"));
    const QStringList &warnings = this->run.warnings;

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("iconLabel"));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    QLabel *text = plainLabel(QStringLiteral("textLabel"),
                              QStringLiteral("Отчеты были успешно просуммированны"), this);
    QLabel *shown = plainLabel(QStringLiteral("warningsLabel"), summary(warnings), this);
    // Wide enough that a warning of a usual length takes a line or two.
    shown->setMinimumWidth(shown->fontMetrics().averageCharWidth() * 90);
    savedLabel = plainLabel(QStringLiteral("savedLabel"), QString(), this);
    savedLabel->hide();

    auto *buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    detailsButton = buttons->addButton(showDetailsText, QDialogButtonBox::ActionRole);
    detailsButton->setObjectName(QStringLiteral("detailsButton"));
    saveButton = buttons->addButton(saveText, QDialogButtonBox::ActionRole);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    QPushButton *okButton = buttons->addButton(QStringLiteral("ОК"), QDialogButtonBox::AcceptRole);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    // Only the accepting button closes the box; the other two keep it open.
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(detailsButton, &QPushButton::clicked, this, &WarningsBox::toggleDetails);
    connect(saveButton, &QPushButton::clicked, this, &WarningsBox::save);

    // The whole list, one warning a line, as svodar-cli prints them.
    detailsEdit = new QPlainTextEdit(warnings.join(QLatin1Char('\n')), this);
    detailsEdit->setObjectName(QStringLiteral("detailsEdit"));
    detailsEdit->setReadOnly(true);
    detailsEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    detailsEdit->hide();
    // The edit's own menu is English; these two are all a read-only list needs.
    auto *copy = new QAction(QStringLiteral("Копировать"), detailsEdit);
    copy->setShortcut(QKeySequence::Copy);
    connect(copy, &QAction::triggered, detailsEdit, &QPlainTextEdit::copy);
    auto *selectAll = new QAction(QStringLiteral("Выделить всё"), detailsEdit);
    selectAll->setShortcut(QKeySequence::SelectAll);
    connect(selectAll, &QAction::triggered, detailsEdit, &QPlainTextEdit::selectAll);
    detailsEdit->addActions({copy, selectAll});
    detailsEdit->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto *grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(text, 0, 1);
    grid->addWidget(shown, 1, 1);
    grid->addWidget(savedLabel, 2, 1);
    grid->addWidget(buttons, 3, 0, 1, 2);
    grid->addWidget(detailsEdit, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

WarningsBox::~WarningsBox()
{
    // A workbook still being written is waited for.
    if (saving)
        saving->wait();
}

void WarningsBox::done(int result)
{
    if (saving) {
        closeWhenSaved = true;
        closeResult = result;
        return;
    }
    QDialog::done(result);
}

void WarningsBox::setFileNameAsker(const FileNameAsker &asker)
{
    fileNameAsker() = asker;
}

void WarningsBox::toggleDetails()
{
    const bool show = detailsEdit->isHidden();
    detailsEdit->setVisible(show);
    detailsButton->setText(show ? hideDetailsText : showDetailsText);
}

void WarningsBox::save()
{
    const QString caption = QStringLiteral("Сохранить сводку");
    const QString filter = QStringLiteral("Книга Excel (*.xlsx)");
    const QString proposed = QDir(outputFolder).filePath(QStringLiteral("сводка.xlsx"));
    const FileNameAsker &ask = fileNameAsker();
    const QString path = ask ? ask(this, caption, proposed, filter)
                             : QFileDialog::getSaveFileName(this, caption, proposed, filter);
    if (path.isEmpty())
        return; // cancelled
    // Never over a report: a name *.xml in the folder of the reports or of the
    // summed reports is one.
    if (const QString refused = outputfile::refusal(path, inputFolder, outputFolder); !refused.isEmpty()) {
        showWriteError(refused);
        return;
    }

    saveButton->setText(savingText);
    saveButton->setEnabled(false);
    savedLabel->hide();
    struct Result
    {
        bool ok = false;
        QString error;
    };
    const auto result = std::make_shared<Result>();
    saving = QThread::create([record = run, okpo = okpo, path, result] {
        Workbook workbook(record, okpo);
        result->ok = workbook.write(path);
        result->error = workbook.lastError();
    });
    saving->setParent(this);
    connect(saving, &QThread::finished, this, [this, path, result] { saved(path, result->ok, result->error); });
    saving->start();
}

void WarningsBox::saved(const QString &path, bool ok, const QString &error)
{
    saving->deleteLater();
    saving = nullptr;
    saveButton->setText(saveText);
    saveButton->setEnabled(true);
    if (ok) {
        savedLabel->setText(QStringLiteral("Сводка сохранена: ") + QDir::toNativeSeparators(path));
        savedLabel->show();
    } else {
        showWriteError(error);
    }
    if (closeWhenSaved)
        QDialog::done(closeResult);
}

void WarningsBox::showWriteError(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка записи"), text, QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.addButton(QStringLiteral("ОК"), QMessageBox::AcceptRole);
    box.exec();
}

#include "mainform.h"

#include "summingrun.h"
#include "warningsbox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QStyleHints>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace {

// The bar is brought up to date this often while a run goes on: often enough
// to look alive, seldom enough to cost the run nothing.
constexpr int ProgressIntervalMs = 100;

// The folder a drop names: a dropped folder itself, or the folder that holds a
// dropped file, with the system's separators; empty for anything else.
QString droppedFolder(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return QString();
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile())
        return QString();
    const QFileInfo info(url.toLocalFile());
    if (info.isDir())
        return QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath()));
    if (info.isFile())
        return QDir::toNativeSeparators(QDir::cleanPath(info.absolutePath()));
    return QString();
}

void showBox(QMessageBox::Icon icon, QWidget *parent, const QString &title, const QString &text)
{
    if (icon == QMessageBox::Critical)
        QMessageBox::critical(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
    else
        QMessageBox::information(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

} // namespace

void mainFormWidgets::setupWidgets(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("mainForm"));
    window->resize(318, 179);
    window->setStyleSheet(QString());

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));

    // Fixed positions, no layout: the window is small and never needs to adapt.
    inputPathEdit = new QLineEdit(centralwidget);
    inputPathEdit->setObjectName(QStringLiteral("inputPathEdit"));
    inputPathEdit->setGeometry(QRect(10, 60, 211, 20));

    inputBrowseButton = new QPushButton(centralwidget);
    inputBrowseButton->setObjectName(QStringLiteral("inputBrowseButton"));
    inputBrowseButton->setGeometry(QRect(230, 60, 75, 23));

    startButton = new QPushButton(centralwidget);
    startButton->setObjectName(QStringLiteral("startButton"));
    startButton->setGeometry(QRect(14, 130, 291, 23));
    startButton->setStyleSheet(QStringLiteral("QPushButton  {font-weight: bold}"));

    label = new QLabel(centralwidget);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(10, 40, 161, 16));

    label_2 = new QLabel(centralwidget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setGeometry(QRect(10, 80, 201, 16));

    outputPathEdit = new QLineEdit(centralwidget);
    outputPathEdit->setObjectName(QStringLiteral("outputPathEdit"));
    outputPathEdit->setGeometry(QRect(10, 100, 211, 20));

    outputBrowseButton = new QPushButton(centralwidget);
    outputBrowseButton->setObjectName(QStringLiteral("outputBrowseButton"));
    outputBrowseButton->setGeometry(QRect(230, 100, 75, 23));

    aboutButton = new QPushButton(centralwidget);
    aboutButton->setObjectName(QStringLiteral("aboutButton"));
    aboutButton->setGeometry(QRect(230, 20, 75, 23));

    aboutLabel = new QLabel(centralwidget);
    aboutLabel->setObjectName(QStringLiteral("aboutLabel"));
    aboutLabel->setGeometry(QRect(10, 160, 281, 16));
    aboutLabel->setStyleSheet(QStringLiteral("QLabel { color : gray; }"));

    label_3 = new QLabel(centralwidget);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setGeometry(QRect(10, 0, 231, 16));

    okpoEdit = new QLineEdit(centralwidget);
    okpoEdit->setObjectName(QStringLiteral("okpoEdit"));
    okpoEdit->setGeometry(QRect(10, 20, 211, 20));

    window->setCentralWidget(centralwidget);

    // Top to bottom through the fields, then the about and start buttons.
    QWidget::setTabOrder(okpoEdit, inputPathEdit);
    QWidget::setTabOrder(inputPathEdit, inputBrowseButton);
    QWidget::setTabOrder(inputBrowseButton, outputPathEdit);
    QWidget::setTabOrder(outputPathEdit, outputBrowseButton);
    QWidget::setTabOrder(outputBrowseButton, aboutButton);
    QWidget::setTabOrder(aboutButton, startButton);

    window->setWindowTitle(QCoreApplication::translate("mainForm", "Сводарь 1.2"));
    inputBrowseButton->setText(QCoreApplication::translate("mainForm", "Обзор"));
    startButton->setText(QCoreApplication::translate("mainForm", "Старт!"));
    label->setText(QCoreApplication::translate("mainForm", "Путь к папке с отчетами:"));
    label_2->setText(QCoreApplication::translate("mainForm", "Папка для просуммированных отчетов:"));
    outputBrowseButton->setText(QCoreApplication::translate("mainForm", "Обзор"));
    aboutButton->setText(QCoreApplication::translate("mainForm", "О программе"));
    aboutLabel->setText(QCoreApplication::translate("mainForm", "Сводарь 1.2 © Разработчики Сводаря"));
    label_3->setText(QCoreApplication::translate("mainForm", "Код ОКПО головной организации:"));

    // None of the window's slots follows the on_<object>_<signal> naming, so
    // this adds no connection; the buttons are wired by the constructor.
    QMetaObject::connectSlotsByName(window);
}

mainForm::mainForm()
    : QMainWindow(nullptr)
{
    ui.setupWidgets(this);
    ui.aboutLabel->hide();

    connect(ui.inputBrowseButton, &QPushButton::clicked, this, &mainForm::btBrowseClick);
    connect(ui.outputBrowseButton, &QPushButton::clicked, this, &mainForm::btBrowseClick);
    connect(ui.startButton, &QPushButton::clicked, this, &mainForm::btRunClick);
    connect(ui.aboutButton, &QPushButton::clicked, this, &mainForm::btAboutClick);

    // A folder dragged from the file manager onto a folder field or its
    // browse button lands in that field.
    for (QWidget *widget : {static_cast<QWidget *>(ui.inputPathEdit), static_cast<QWidget *>(ui.inputBrowseButton),
                            static_cast<QWidget *>(ui.outputPathEdit), static_cast<QWidget *>(ui.outputBrowseButton)}) {
        widget->setAcceptDrops(true);
        widget->installEventFilter(this);
    }
}

mainForm::~mainForm() = default;

void mainForm::btBrowseClick()
{
    const QObject *source = sender();
    if (!source)
        return;

    QLineEdit *field = nullptr;
    const QString name = source->objectName();
    if (name == QLatin1String("inputBrowseButton"))
        field = ui.inputPathEdit;
    else if (name == QLatin1String("outputBrowseButton"))
        field = ui.outputPathEdit;
    else
        return;

    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Выберите папку:"), field->text(), QFileDialog::ShowDirsOnly);
    // An empty answer means the chooser was cancelled: keep what the user had.
    if (!folder.isEmpty())
        field->setText(folder);
}

void mainForm::btRunClick()
{
    if (!run) {
        startRun();
        return;
    }
    // The second click of a double click on "Старт!" is no request to stop.
    if (runClock.elapsed() >= QGuiApplication::styleHints()->mouseDoubleClickInterval())
        run->stop();
}

void mainForm::startRun()
{
    // A fresh engine per run, so no totals survive from one run to the next.
    run = new SummingRun(ui.inputPathEdit->text(), ui.outputPathEdit->text(), ui.okpoEdit->text(), this);
    connect(run, &SummingRun::finished, this, &mainForm::runFinished);
    setRunning(true);
    runClock.start();
    run->start();
}

void mainForm::setRunning(bool running)
{
    for (QWidget *widget : {static_cast<QWidget *>(ui.okpoEdit), static_cast<QWidget *>(ui.inputPathEdit),
                            static_cast<QWidget *>(ui.outputPathEdit), static_cast<QWidget *>(ui.inputBrowseButton),
                            static_cast<QWidget *>(ui.outputBrowseButton), static_cast<QWidget *>(ui.aboutButton)})
        widget->setEnabled(!running);
    if (running) {
        ui.startButton->setText(QCoreApplication::translate("mainForm", "Остановить"));
        aboutWasVisible = !ui.aboutLabel->isHidden();
        ui.aboutLabel->hide();
        progressBar = new QProgressBar(ui.centralwidget);
        progressBar->setObjectName(QStringLiteral("progressBar"));
        progressBar->setGeometry(QRect(10, 160, 295, 16));
        progressBar->setRange(0, 0); // busy until the folder is listed
        progressBar->setFormat(QCoreApplication::translate("mainForm", "Чтение…"));
        progressBar->show();
        progressTimer = new QTimer(this);
        connect(progressTimer, &QTimer::timeout, this, &mainForm::showProgress);
        progressTimer->start(ProgressIntervalMs);
    } else {
        delete progressTimer;
        progressTimer = nullptr;
        delete progressBar;
        progressBar = nullptr;
        ui.aboutLabel->setVisible(aboutWasVisible);
        ui.startButton->setText(QCoreApplication::translate("mainForm", "Старт!"));
    }
}

void mainForm::showProgress()
{
    if (!run || !progressBar)
        return;
    const SummingRun::Progress progress = run->progress();
    if (progress.all <= 0)
        return;
    progressBar->setFormat(progress.writing
                               ? QCoreApplication::translate("mainForm", "Запись: %v из %m сводных отчетов")
                               : QCoreApplication::translate("mainForm", "Чтение: %v из %m файлов"));
    progressBar->setRange(0, int(std::min<qsizetype>(progress.all, std::numeric_limits<int>::max())));
    progressBar->setValue(int(std::min(progress.done, progress.all)));
}

void mainForm::runFinished()
{
    // The close question is open: its answer decides what comes next.
    if (asking) {
        finishedWhileAsking = true;
        return;
    }
    SummingRun *ended = run;
    run = nullptr;
    setRunning(false);
    if (closeAfterRun) {
        ended->deleteLater();
        close();
        return;
    }
    showOutcome(*ended);
    ended->deleteLater();
}

void mainForm::showOutcome(const SummingRun &ended)
{
    switch (ended.outcome()) {
    case SummingRun::Outcome::ReadFailed:
        showBox(QMessageBox::Critical, ui.centralwidget, QStringLiteral("Ошибка чтения"), ended.error());
        return;
    case SummingRun::Outcome::WriteFailed:
        showBox(QMessageBox::Critical, ui.centralwidget, QStringLiteral("Ошибка записи"), ended.error());
        return;
    case SummingRun::Outcome::StoppedReading:
    case SummingRun::Outcome::StoppedWriting:
        showBox(QMessageBox::Information, ui.centralwidget, QStringLiteral("Остановлено"),
                ended.reportsWritten() == 0
                    ? QStringLiteral("Суммирование остановлено, сводные отчеты не записаны")
                    : QStringLiteral("Суммирование остановлено, записано %1 из %2 сводных отчетов")
                          .arg(ended.reportsWritten())
                          .arg(ended.reports()));
        return;
    case SummingRun::Outcome::Running:
    case SummingRun::Outcome::Done:
        break;
    }
    if (ended.record().warnings.isEmpty()) {
        showBox(QMessageBox::Information, ui.centralwidget, QStringLiteral("Всё хорошо"),
                QStringLiteral("Отчеты были успешно просуммированны"));
        return;
    }
    // Summed, but not all is well: say so, and offer the workbook, proposed
    // beside the summed reports.
    WarningsBox box(ended.record(), ui.okpoEdit->text(), ui.inputPathEdit->text(), ui.outputPathEdit->text(),
                    ui.centralwidget);
    box.exec();
}

void mainForm::closeEvent(QCloseEvent *event)
{
    if (!run) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (closeAfterRun || asking)
        return; // already stopping, or already asking
    QMessageBox question(QMessageBox::Question, QStringLiteral("Идет суммирование"),
                         QStringLiteral("Остановить суммирование и закрыть программу?"), QMessageBox::NoButton,
                         this);
    QPushButton *stop = question.addButton(QStringLiteral("Остановить"), QMessageBox::AcceptRole);
    QPushButton *goOn = question.addButton(QStringLiteral("Продолжить"), QMessageBox::RejectRole);
    question.setDefaultButton(stop);
    question.setEscapeButton(goOn);
    asking = true;
    question.exec();
    asking = false;
    closeAfterRun = question.clickedButton() == stop;
    if (closeAfterRun && run)
        run->stop();
    if (finishedWhileAsking) {
        finishedWhileAsking = false;
        runFinished();
    }
}

QLineEdit *mainForm::dropTarget(const QObject *watched) const
{
    if (watched == ui.inputPathEdit || watched == ui.inputBrowseButton)
        return ui.inputPathEdit;
    if (watched == ui.outputPathEdit || watched == ui.outputBrowseButton)
        return ui.outputPathEdit;
    return nullptr;
}

bool mainForm::eventFilter(QObject *watched, QEvent *event)
{
    QLineEdit *field = dropTarget(watched);
    if (!field)
        return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        // Only a folder or a file is taken; text and anything else is not
        // dropped at all, not even into the fields.
        auto *drop = static_cast<QDropEvent *>(event);
        const QString folder = droppedFolder(drop->mimeData());
        if (folder.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop)
            field->setText(folder);
        return true;
    }
    case QEvent::DragLeave:
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

void mainForm::btAboutClick()
{
    ui.aboutLabel->setVisible(ui.aboutLabel->isHidden());
}

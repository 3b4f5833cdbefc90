#include "mainform.h"

#include "summer.h"
#include "warningsbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QRect>
#include <QWidget>

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
    // A fresh engine per run, so no totals survive from one run to the next.
    Summer summer;

    if (!summer.readReports(ui.inputPathEdit->text())) {
        QMessageBox::critical(ui.centralwidget, QStringLiteral("Ошибка чтения"), summer.lastError(),
                              QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }

    if (!summer.writeReports(ui.outputPathEdit->text(), ui.okpoEdit->text())) {
        QMessageBox::critical(ui.centralwidget, QStringLiteral("Ошибка записи"), summer.lastError(),
                              QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }

    if (summer.warnings().isEmpty()) {
        QMessageBox::information(ui.centralwidget, QStringLiteral("Всё хорошо"),
                                 QStringLiteral("Отчеты были успешно просуммированны"), QMessageBox::Ok,
                                 QMessageBox::NoButton);
        return;
    }
    // Summed, but not all is well: say so, and offer the workbook, proposed
    // beside the summed reports.
    WarningsBox box(summer.runRecord(), ui.okpoEdit->text(),
                    QDir(ui.outputPathEdit->text()).filePath(QStringLiteral("сводка.xlsx")),
                    ui.centralwidget);
    box.exec();
}

void mainForm::btAboutClick()
{
    ui.aboutLabel->setVisible(ui.aboutLabel->isHidden());
}

#include "mainform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Plays the user in front of the modal dialogs the window opens: every
// 10 ms it looks for a modal widget, notes what it shows and closes it.
// A folder chooser is answered with folderToChoose, or cancelled when that
// is empty. Whatever else appears is closed too, so no test can hang.
class DialogAnswerer : public QObject
{
public:
    struct Seen
    {
        QString className;
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QWidget *parent = nullptr;
        QString startFolder;
        QFileDialog::Options options;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    };

    QString folderToChoose;
    QList<Seen> seen;

    DialogAnswerer() { startTimer(10); }

protected:
    void timerEvent(QTimerEvent *) override
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;

        Seen s;
        s.className = QString::fromLatin1(modal->metaObject()->className());
        s.title = modal->windowTitle();
        s.parent = modal->parentWidget();

        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            s.text = box->text();
            s.icon = box->icon();
            s.buttons = box->standardButtons();
            seen.append(s);
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->done(0);
        } else if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
            s.startFolder = chooser->directory().absolutePath();
            s.options = chooser->options();
            s.fileMode = chooser->fileMode();
            seen.append(s);
            if (folderToChoose.isEmpty()) {
                chooser->reject();
            } else {
                chooser->setDirectory(folderToChoose);
                static_cast<QDialog *>(chooser)->accept();
            }
        } else {
            seen.append(s);
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        }
    }
};

QString clean(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

// One report of form 0601012 for 2014, period 3, with a single cell.
void writeReport(const QString &folder, const QString &fileName, int value)
{
    QFile file(folder + QLatin1Char('/') + fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<report code=\"0601012\" year=\"2014\" period=\"3\">"
        "<title><item name=\"a\" value=\"1\"/></title>"
        "<sections><section code=\"1\"><row code=\"1\"><col code=\"1\">"
        + QByteArray::number(value)
        + "</col></row></section></sections></report>\n";
    QVERIFY(file.write(xml) == xml.size());
}

const char summedFileName[] = "0601012_2014_3.xml";

template <typename T>
T *child(mainForm &form, const char *name)
{
    return form.findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class tst_mainForm : public QObject
{
    Q_OBJECT

private slots:
    void windowProperties();
    void widgets_data();
    void widgets();
    void creationOrder();
    void slotsOfTheWindow();
    void widgetsKeepPlaceWhenWindowResizes();
    void tabOrder();
    void aboutLineFitsAndToggles();

    void browseFillsOnlyItsField_data();
    void browseFillsOnlyItsField();
    void browseCancelledKeepsTypedText();
    void browseIgnoresUnknownSender();

    void runSucceeds_data();
    void runSucceeds();
    void runWithMissingInputFolder();
    void runWithUnwritableOutputFolder();
};

void tst_mainForm::windowProperties()
{
    mainForm form;
    QCOMPARE(form.objectName(), QStringLiteral("mainForm"));
    QCOMPARE(form.size(), QSize(318, 179));
    QCOMPARE(form.windowTitle(), QStringLiteral("Сводарь 1.2"));
    QVERIFY(form.styleSheet().isEmpty());
    QVERIFY(form.parentWidget() == nullptr);
    QVERIFY(form.findChildren<QMenuBar *>().isEmpty());
    QVERIFY(form.findChildren<QStatusBar *>().isEmpty());

    QWidget *central = form.centralWidget();
    QVERIFY(central);
    QCOMPARE(central->objectName(), QStringLiteral("centralwidget"));
    QCOMPARE(central->metaObject()->className(), "QWidget");
    QVERIFY(central->layout() == nullptr);
}

void tst_mainForm::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("styleSheet");

    QTest::newRow("inputPathEdit") << "QLineEdit" << QRect(10, 60, 211, 20) << "" << "";
    QTest::newRow("inputBrowseButton") << "QPushButton" << QRect(230, 60, 75, 23) << "Обзор" << "";
    QTest::newRow("startButton") << "QPushButton" << QRect(14, 130, 291, 23) << "Старт!"
                                 << "QPushButton  {font-weight: bold}";
    QTest::newRow("label") << "QLabel" << QRect(10, 40, 161, 16) << "Путь к папке с отчетами:" << "";
    QTest::newRow("label_2") << "QLabel" << QRect(10, 80, 201, 16)
                             << "Папка для просуммированных отчетов:" << "";
    QTest::newRow("outputPathEdit") << "QLineEdit" << QRect(10, 100, 211, 20) << "" << "";
    QTest::newRow("outputBrowseButton") << "QPushButton" << QRect(230, 100, 75, 23) << "Обзор" << "";
    QTest::newRow("aboutButton") << "QPushButton" << QRect(230, 20, 75, 23) << "О программе" << "";
    QTest::newRow("label_3") << "QLabel" << QRect(10, 0, 231, 16)
                             << "Код ОКПО головной организации:" << "";
    QTest::newRow("okpoEdit") << "QLineEdit" << QRect(10, 20, 211, 20) << "" << "";
}

void tst_mainForm::widgets()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, styleSheet);

    mainForm form;
    QWidget *widget = form.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->styleSheet(), styleSheet);
    QVERIFY(widget->isEnabled());
    QVERIFY(!widget->isHidden());

    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QCOMPARE(edit->text(), text);
        QVERIFY(edit->placeholderText().isEmpty());
        QVERIFY(edit->validator() == nullptr);
        QVERIFY(edit->inputMask().isEmpty());
        QVERIFY(!edit->isReadOnly());
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(button->text(), text);
    } else {
        QCOMPARE(qobject_cast<QLabel *>(widget)->text(), text);
    }
}

void tst_mainForm::creationOrder()
{
    mainForm form;
    const QStringList expected = {
        "inputPathEdit", "inputBrowseButton", "startButton", "label", "label_2",
        "outputPathEdit", "outputBrowseButton", "aboutButton", "aboutLabel", "label_3",
        "okpoEdit",
    };

    // A parent lists its children in the order they were created.
    QStringList actual;
    for (QObject *object : form.centralWidget()->children()) {
        if (object->isWidgetType())
            actual << object->objectName();
    }
    QCOMPARE(actual, expected);
}

void tst_mainForm::slotsOfTheWindow()
{
    const QMetaObject &meta = mainForm::staticMetaObject;
    QCOMPARE(meta.className(), "mainForm");
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);

    const QByteArrayList expected = {"btBrowseClick()", "btRunClick()", "btAboutClick()"};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), int(expected.size()));
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), expected.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
    }
}

void tst_mainForm::widgetsKeepPlaceWhenWindowResizes()
{
    mainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const QList<QWidget *> all = form.centralWidget()->findChildren<QWidget *>(
        QString(), Qt::FindDirectChildrenOnly);
    QList<QRect> before;
    for (QWidget *widget : all)
        before << widget->geometry();

    for (const QSize &size : {QSize(700, 500), QSize(120, 60)}) {
        form.resize(size);
        QApplication::processEvents();
        for (int i = 0; i < all.size(); ++i)
            QCOMPARE(all.at(i)->geometry(), before.at(i));
    }
}

void tst_mainForm::tabOrder()
{
    mainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QWidget *okpo = child<QLineEdit>(form, "okpoEdit");
    okpo->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), okpo);

    const QStringList expected = {
        "inputPathEdit", "inputBrowseButton", "outputPathEdit", "outputBrowseButton",
        "aboutButton", "startButton", "okpoEdit",
    };
    QStringList walked;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                               : QString());
    }
    QCOMPARE(walked, expected);
}

void tst_mainForm::aboutLineFitsAndToggles()
{
    mainForm form;
    auto *about = child<QLabel>(form, "aboutLabel");
    auto *button = child<QPushButton>(form, "aboutButton");
    QVERIFY(about && button);

    QCOMPARE(about->geometry(), QRect(10, 160, 281, 16));
    QCOMPARE(about->styleSheet(), QStringLiteral("QLabel { color : gray; }"));
    QVERIFY(about->isHidden());

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!about->isVisible());

    const QString text = about->text();
    QVERIFY(!text.trimmed().isEmpty());
    QVERIFY(!text.contains(QLatin1Char('\n')));
    QVERIFY2(QFontMetrics(about->font()).horizontalAdvance(text) <= about->width(),
             qPrintable(text));

    // Every click flips the line once: shown, hidden, shown again.
    for (bool shown : {true, false, true}) {
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(about->isVisible(), shown);
    }
}

void tst_mainForm::browseFillsOnlyItsField_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("otherField");

    QTest::newRow("input") << "inputBrowseButton" << "inputPathEdit" << "outputPathEdit";
    QTest::newRow("output") << "outputBrowseButton" << "outputPathEdit" << "inputPathEdit";
}

void tst_mainForm::browseFillsOnlyItsField()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, otherField);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString start = tmp.filePath("start");
    const QString chosen = tmp.filePath("chosen");
    QVERIFY(QDir().mkpath(start));
    QVERIFY(QDir().mkpath(chosen));

    mainForm form;
    auto *edit = form.findChild<QLineEdit *>(field);
    auto *other = form.findChild<QLineEdit *>(otherField);
    auto *okpo = child<QLineEdit>(form, "okpoEdit");
    edit->setText(start);
    other->setText(QStringLiteral("typed by hand"));
    okpo->setText(QStringLiteral("123"));

    DialogAnswerer answerer;
    answerer.folderToChoose = chosen;
    QTest::mouseClick(form.findChild<QPushButton *>(button), Qt::LeftButton);

    QCOMPARE(answerer.seen.size(), 1);
    const DialogAnswerer::Seen &chooser = answerer.seen.first();
    QCOMPARE(chooser.className, QStringLiteral("QFileDialog"));
    QCOMPARE(chooser.title, QStringLiteral("Выберите папку:"));
    QCOMPARE(chooser.parent, &form);
    QCOMPARE(chooser.startFolder, clean(start));
    QVERIFY(chooser.options.testFlag(QFileDialog::ShowDirsOnly));
    QCOMPARE(chooser.fileMode, QFileDialog::Directory);

    QCOMPARE(clean(edit->text()), clean(chosen));
    QCOMPARE(other->text(), QStringLiteral("typed by hand"));
    QCOMPARE(okpo->text(), QStringLiteral("123"));
}

void tst_mainForm::browseCancelledKeepsTypedText()
{
    mainForm form;
    auto *input = child<QLineEdit>(form, "inputPathEdit");
    auto *output = child<QLineEdit>(form, "outputPathEdit");
    const QString typed = QStringLiteral("  no/such folder ");
    input->setText(typed);

    DialogAnswerer answerer; // no folder to choose: cancel
    QTest::mouseClick(child<QPushButton>(form, "inputBrowseButton"), Qt::LeftButton);

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(input->text(), typed);
    QVERIFY(output->text().isEmpty());
}

void tst_mainForm::browseIgnoresUnknownSender()
{
    mainForm form;
    auto *input = child<QLineEdit>(form, "inputPathEdit");
    auto *output = child<QLineEdit>(form, "outputPathEdit");
    input->setText(QStringLiteral("in"));
    output->setText(QStringLiteral("out"));

    DialogAnswerer answerer;
    answerer.folderToChoose = QDir::tempPath();

    // A direct call has no sender at all.
    form.btBrowseClick();

    // A button the slot does not know about.
    QPushButton stranger;
    stranger.setObjectName(QStringLiteral("startButton"));
    QObject::connect(&stranger, &QPushButton::clicked, &form, &mainForm::btBrowseClick);
    stranger.click();

    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(input->text(), QStringLiteral("in"));
    QCOMPARE(output->text(), QStringLiteral("out"));
}

void tst_mainForm::runSucceeds_data()
{
    QTest::addColumn<QString>("okpo");
    QTest::newRow("okpo code") << "12345678";
    QTest::newRow("empty okpo") << "";
}

void tst_mainForm::runSucceeds()
{
    QFETCH(QString, okpo);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString in = tmp.filePath("in");
    const QString out = tmp.filePath("out");
    QVERIFY(QDir().mkpath(in));
    writeReport(in, "a.xml", 5);
    writeReport(in, "b.xml", 7);
    if (QTest::currentTestFailed())
        return;

    mainForm form;
    child<QLineEdit>(form, "okpoEdit")->setText(okpo);
    child<QLineEdit>(form, "inputPathEdit")->setText(in);
    child<QLineEdit>(form, "outputPathEdit")->setText(out);

    // The same inputs twice in a row give the same file: no totals survive a run.
    QByteArray firstOutput;
    for (int run = 0; run < 2; ++run) {
        DialogAnswerer answerer;
        QTest::mouseClick(child<QPushButton>(form, "startButton"), Qt::LeftButton);

        QCOMPARE(answerer.seen.size(), 1);
        const DialogAnswerer::Seen &box = answerer.seen.first();
        QCOMPARE(box.className, QStringLiteral("QMessageBox"));
        QCOMPARE(box.title, QStringLiteral("Всё хорошо"));
        QCOMPARE(box.text, QStringLiteral("Отчеты были успешно просуммированны"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.parent, form.centralWidget());

        QFile summed(out + QLatin1Char('/') + QLatin1String(summedFileName));
        QVERIFY2(summed.open(QIODevice::ReadOnly), qPrintable(summed.fileName()));
        const QByteArray content = summed.readAll();
        QVERIFY(content.contains(">12<")); // 5 + 7
        if (!okpo.isEmpty())
            QVERIFY(content.contains(okpo.toUtf8()));
        if (run == 0)
            firstOutput = content;
        else
            QCOMPARE(content, firstOutput);
    }

    // The fields keep what the user entered.
    QCOMPARE(child<QLineEdit>(form, "okpoEdit")->text(), okpo);
    QCOMPARE(child<QLineEdit>(form, "inputPathEdit")->text(), in);
    QCOMPARE(child<QLineEdit>(form, "outputPathEdit")->text(), out);
}

void tst_mainForm::runWithMissingInputFolder()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString out = tmp.filePath("out");

    mainForm form;
    child<QLineEdit>(form, "inputPathEdit")->setText(tmp.filePath("missing"));
    child<QLineEdit>(form, "outputPathEdit")->setText(out);

    DialogAnswerer answerer;
    QTest::mouseClick(child<QPushButton>(form, "startButton"), Qt::LeftButton);

    QCOMPARE(answerer.seen.size(), 1);
    const DialogAnswerer::Seen &box = answerer.seen.first();
    QCOMPARE(box.title, QStringLiteral("Ошибка чтения"));
    QCOMPARE(box.text, QStringLiteral("Не удаётся нейти исходную папку"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, form.centralWidget());

    // Writing never started, so not even the output folder was created.
    QVERIFY(!QFileInfo::exists(out));
}

void tst_mainForm::runWithUnwritableOutputFolder()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString in = tmp.filePath("in");
    QVERIFY(QDir().mkpath(in));
    writeReport(in, "a.xml", 5);
    QFile blocker(tmp.filePath("file.txt"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    mainForm form;
    child<QLineEdit>(form, "inputPathEdit")->setText(in);
    child<QLineEdit>(form, "outputPathEdit")->setText(tmp.filePath("file.txt/out"));

    DialogAnswerer answerer;
    QTest::mouseClick(child<QPushButton>(form, "startButton"), Qt::LeftButton);

    QCOMPARE(answerer.seen.size(), 1);
    const DialogAnswerer::Seen &box = answerer.seen.first();
    QCOMPARE(box.title, QStringLiteral("Ошибка записи"));
    QCOMPARE(box.text, QStringLiteral("Не получается открыть файл для записи"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.parent, form.centralWidget());
}

QTEST_MAIN(tst_mainForm)
#include "tst_mainform.moc"

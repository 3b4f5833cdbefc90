#include "mainform.h"
#include "summer.h"
#include "summingrun.h"
#include "testfiles.h"
#include "warningsbox.h"
#include "workbook.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace {

// Plays the user in front of the modal dialogs the window opens: every 10 ms
// it looks for a modal widget, notes what it shows and closes it. A folder
// chooser is answered with folderToChoose, or cancelled when that is empty.
// Anything else modal is rejected as well, so no test can hang on a dialog.
// A test that wants to do more in a dialog first sets act: a dialog it
// returns true for is left open, unrecorded, for this tick.
class DialogAnswerer : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QString informativeText;
        QString detailedText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QStringList buttonTexts;
        QStringList allTexts; // every text of the dialog's widgets and actions
        QWidget *parent = nullptr;
        QWidget *dialog = nullptr;
        QString startFolder;
        bool foldersOnly = false;
        QString proposedFile;
        QStringList nameFilters;
        bool saving = false;
    };

    QString folderToChoose;
    std::function<bool(QDialog *)> act;
    QList<Seen> seen;

    DialogAnswerer() { startTimer(10); }

protected:
    void timerEvent(QTimerEvent *) override
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        if (act && act(dialog))
            return;

        Seen s;
        s.title = dialog->windowTitle();
        s.parent = dialog->parentWidget();
        s.dialog = dialog;
        s.allTexts << dialog->windowTitle();
        for (QWidget *widget : dialog->findChildren<QWidget *>()) {
            if (auto *label = qobject_cast<QLabel *>(widget))
                s.allTexts << label->text();
            if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
                s.allTexts << button->text();
                s.buttonTexts << button->text();
            }
            if (auto *edit = qobject_cast<QPlainTextEdit *>(widget))
                s.allTexts << edit->toPlainText();
            s.allTexts << widget->toolTip() << widget->whatsThis();
            for (const QAction *action : widget->actions())
                s.allTexts << action->text() << action->toolTip();
        }
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            s.text = box->text();
            s.detailedText = box->detailedText();
            s.icon = box->icon();
            s.buttons = box->standardButtons();
        } else if (auto *text = dialog->findChild<QLabel *>("textLabel")) {
            s.text = text->text();
            s.informativeText = dialog->findChild<QLabel *>("warningsLabel")->text();
            s.detailedText = dialog->findChild<QPlainTextEdit *>("detailsEdit")->toPlainText();
            const QPixmap icon = dialog->findChild<QLabel *>("iconLabel")->pixmap();
            const QIcon warning = dialog->style()->standardIcon(QStyle::SP_MessageBoxWarning);
            if (icon.toImage() == warning.pixmap(icon.size()).toImage())
                s.icon = QMessageBox::Warning;
        }
        auto *chooser = qobject_cast<QFileDialog *>(dialog);
        if (chooser) {
            s.startFolder = chooser->directory().absolutePath();
            s.foldersOnly = chooser->fileMode() == QFileDialog::Directory
                && chooser->testOption(QFileDialog::ShowDirsOnly);
            s.proposedFile = chooser->selectedFiles().value(0);
            s.nameFilters = chooser->nameFilters();
            s.saving = chooser->acceptMode() == QFileDialog::AcceptSave;
        }
        seen.append(s);

        if (chooser && !folderToChoose.isEmpty()) {
            chooser->setDirectory(folderToChoose);
            dialog->accept();
        } else {
            dialog->reject();
        }
    }
};

QString clean(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

// One report of form 0601012 for 2014, period 3, with a single cell, from the
// branch with the given okpo code, if any.
bool writeReport(const QString &path, const QByteArray &value, const QByteArray &okpo = QByteArray())
{
    const QByteArray okpoItem = okpo.isEmpty() ? QByteArray() : "<item name=\"okpo\" value=\"" + okpo + "\"/>";
    const QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<report code=\"0601012\" year=\"2014\" period=\"3\">"
        "<title><item name=\"a\" value=\"1\"/>" + okpoItem + "</title>"
        "<sections><section code=\"1\"><row code=\"1\"><col code=\"1\">"
        + value + "</col></row></section></sections></report>\n";
    return tu::writeFile(path, xml);
}

// An input folder: a.xml (5) and b.xml (7) from the given branches, and
// lostFiles files c01.xml, c02.xml, … each with a number no one can count.
bool writeRun(const QString &in, const QByteArray &branchA, const QByteArray &branchB, int lostFiles)
{
    bool ok = QDir().mkpath(in) && writeReport(in + "/a.xml", "5", branchA)
        && writeReport(in + "/b.xml", "7", branchB);
    for (int i = 1; i <= lostFiles; ++i)
        ok = ok && writeReport(in + QStringLiteral("/c%1.xml").arg(i, 2, 10, QLatin1Char('0')), "1 234");
    return ok;
}

template <typename T = QWidget>
T *child(const mainForm &form, const QString &name)
{
    T *widget = form.findChild<T *>(name);
    if (!widget)
        qFatal("no widget %s", qPrintable(name));
    return widget;
}

QLineEdit *edit(const mainForm &form, const char *name)
{
    return child<QLineEdit>(form, QString::fromLatin1(name));
}

void click(const mainForm &form, const char *button)
{
    QTest::mouseClick(child<QPushButton>(form, QString::fromLatin1(button)), Qt::LeftButton);
}

// The window at rest: no run going, nothing of one left on it.
bool idle(const mainForm &form)
{
    return child<QPushButton>(form, "startButton")->text() == QStringLiteral("Старт!")
        && !form.findChild<QProgressBar *>(QStringLiteral("progressBar"));
}

// Each run of the window's Summer waits this long at each of its steps (the
// folder listed, each file read, each summed report written), so that a test
// can look at the window and act while the run goes on.
auto slowRuns(int stepMs)
{
    SummingRun::setEngineSetup([stepMs](Summer &summer) { summer.setStepHook([stepMs] { QThread::msleep(stepMs); }); });
    return qScopeGuard([] { SummingRun::setEngineSetup({}); });
}

// count reports of form 0601012 in tmp/in, each of its own year and so of its
// own summed report 0601012_<2001 + i>_3.xml, and the window aimed at them,
// its summed reports to go into tmp/out.
bool aimAtGroups(mainForm &form, const QTemporaryDir &tmp, int count)
{
    const QString in = tmp.filePath(QStringLiteral("in"));
    bool ok = QDir().mkpath(in);
    for (int i = 0; i < count && ok; ++i) {
        ok = tu::writeFile(in + QStringLiteral("/r%1.xml").arg(i, 2, 10, QLatin1Char('0')),
                           "<report code=\"0601012\" year=\"" + QByteArray::number(2001 + i)
                               + "\" period=\"3\"><section code=\"1\"><row code=\"1\"><col code=\"1\">1</col>"
                                 "</row></section></report>\n");
    }
    edit(form, "inputPathEdit")->setText(in);
    edit(form, "outputPathEdit")->setText(tmp.filePath(QStringLiteral("out")));
    return ok;
}

QWidget *button(const QDialog *dialog, const QString &text)
{
    for (QAbstractButton *b : dialog->findChildren<QAbstractButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void window();
    void widgets_data();
    void widgets();
    void creationOrder();
    void widgetsKeepPlaceWhenWindowResizes();
    void tabOrder();
    void aboutLineFitsAndToggles();

    void browseFillsOnlyItsField_data();
    void browseFillsOnlyItsField();
    void browseCancelledKeepsTypedText();
    void browseIgnoresOtherSenders();

    void runSucceeds_data();
    void runSucceeds();
    void warningsBoxSaves_data();
    void warningsBoxSaves();
    void runFails_data();
    void runFails();
    void ownOutputWarns();

    void windowDuringRun_data();
    void windowDuringRun();
    void stopEndsTheRun_data();
    void stopEndsTheRun();
    void closeDuringRun_data();
    void closeDuringRun();
    void dropPutsFolder_data();
    void dropPutsFolder();

    void closingTheWindowEndsTheProgram();
};

void TestMainForm::window()
{
    mainForm form;
    QCOMPARE(form.objectName(), QStringLiteral("mainForm"));
    QCOMPARE(form.size(), QSize(318, 179));
    QCOMPARE(form.windowTitle(), QStringLiteral("Сводарь 1.2"));
    QVERIFY(form.isWindow());
    QCOMPARE(form.centralWidget()->objectName(), QStringLiteral("centralwidget"));
    QCOMPARE(form.centralWidget()->metaObject()->className(), "QWidget");
}

void TestMainForm::widgets_data()
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

void TestMainForm::widgets()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, styleSheet);

    mainForm form;
    QWidget *widget = child(form, QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget(), form.centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->property("text").toString(), text);
    QCOMPARE(widget->styleSheet(), styleSheet);
    QVERIFY(widget->isEnabled());
    QVERIFY(!widget->isHidden());
}

void TestMainForm::creationOrder()
{
    mainForm form;
    // A parent lists its children in the order they were created.
    QStringList created;
    for (QObject *object : form.centralWidget()->children()) {
        if (object->isWidgetType())
            created << object->objectName();
    }
    const QStringList expected = {
        "inputPathEdit", "inputBrowseButton", "startButton", "label", "label_2",
        "outputPathEdit", "outputBrowseButton", "aboutButton", "aboutLabel", "label_3",
        "okpoEdit",
    };
    QCOMPARE(created, expected);
}

void TestMainForm::widgetsKeepPlaceWhenWindowResizes()
{
    mainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const auto all = form.centralWidget()->findChildren<QWidget *>(QString(),
                                                                    Qt::FindDirectChildrenOnly);
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

void TestMainForm::tabOrder()
{
    mainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    edit(form, "okpoEdit")->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), edit(form, "okpoEdit"));

    // Labels never take the focus; after the start button it wraps around.
    const QStringList expected = {
        "inputPathEdit", "inputBrowseButton", "outputPathEdit", "outputBrowseButton",
        "aboutButton", "startButton", "okpoEdit",
    };
    QStringList walked;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        walked << (focus ? focus->objectName() : QString());
    }
    QCOMPARE(walked, expected);
}

void TestMainForm::aboutLineFitsAndToggles()
{
    mainForm form;
    auto *about = child<QLabel>(form, "aboutLabel");
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

    // Every click flips the line exactly once: shown, hidden, shown again.
    for (bool shown : {true, false, true}) {
        click(form, "aboutButton");
        QCOMPARE(about->isVisible(), shown);
    }
}

void TestMainForm::browseFillsOnlyItsField_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("otherField");

    QTest::newRow("input") << "inputBrowseButton" << "inputPathEdit" << "outputPathEdit";
    QTest::newRow("output") << "outputBrowseButton" << "outputPathEdit" << "inputPathEdit";
}

void TestMainForm::browseFillsOnlyItsField()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, otherField);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString start = tmp.filePath("start");
    const QString chosen = tmp.filePath("chosen");
    QVERIFY(QDir().mkpath(start) && QDir().mkpath(chosen));

    mainForm form;
    auto *target = child<QLineEdit>(form, field);
    auto *other = child<QLineEdit>(form, otherField);
    target->setText(start);
    other->setText(QStringLiteral("typed by hand"));
    edit(form, "okpoEdit")->setText(QStringLiteral("123"));

    DialogAnswerer answerer;
    answerer.folderToChoose = chosen;
    QTest::mouseClick(child<QPushButton>(form, button), Qt::LeftButton);

    QCOMPARE(answerer.seen.size(), 1);
    const DialogAnswerer::Seen &chooser = answerer.seen.first();
    QCOMPARE(chooser.title, QStringLiteral("Выберите папку:"));
    QCOMPARE(chooser.parent, &form);
    QCOMPARE(chooser.startFolder, clean(start));
    QVERIFY(chooser.foldersOnly);

    QCOMPARE(clean(target->text()), clean(chosen));
    QCOMPARE(other->text(), QStringLiteral("typed by hand"));
    QCOMPARE(edit(form, "okpoEdit")->text(), QStringLiteral("123"));
}

void TestMainForm::browseCancelledKeepsTypedText()
{
    mainForm form;
    const QString typed = QStringLiteral("  no/such folder ");
    edit(form, "inputPathEdit")->setText(typed);

    DialogAnswerer answerer; // nothing to choose: cancel
    click(form, "inputBrowseButton");

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(edit(form, "inputPathEdit")->text(), typed);
    QVERIFY(edit(form, "outputPathEdit")->text().isEmpty());
}

void TestMainForm::browseIgnoresOtherSenders()
{
    mainForm form;
    DialogAnswerer answerer;
    answerer.folderToChoose = QDir::tempPath();

    form.btBrowseClick(); // a direct call has no sender at all

    QPushButton stranger;
    stranger.setObjectName(QStringLiteral("startButton"));
    QObject::connect(&stranger, &QPushButton::clicked, &form, &mainForm::btBrowseClick);
    stranger.click();

    QVERIFY(answerer.seen.isEmpty());
    QVERIFY(edit(form, "inputPathEdit")->text().isEmpty());
    QVERIFY(edit(form, "outputPathEdit")->text().isEmpty());
}

void TestMainForm::runSucceeds_data()
{
    QTest::addColumn<QString>("okpo");
    QTest::addColumn<QByteArray>("branchA"); // the okpo items of a.xml and b.xml
    QTest::addColumn<QByteArray>("branchB");
    QTest::addColumn<int>("lostFiles"); // files with a number written "1 234"
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QString>("shown"); // what the box shows of them

    QTest::newRow("okpo code") << "12345678" << QByteArray() << QByteArray() << 0 << QStringList() << "";
    QTest::newRow("empty okpo") << "" << QByteArray() << QByteArray() << 0 << QStringList() << "";
    QTest::newRow("two branches") << "12345678" << QByteArray("02145678") << QByteArray("02145691") << 0
                                  << QStringList() << "";

    const QString twice = QStringLiteral("Предупреждение: ОКПО 02145678 входит в сводный отчет "
                                         "0601012_2014_3.xml несколько раз: a.xml, b.xml");
    QTest::newRow("one branch twice") << "12345678" << QByteArray("02145678") << QByteArray("02145678") << 0
                                      << QStringList{twice} << "Предупреждений: 1\n" + twice;

    // Ten warnings in sight, the first the report sent twice, and the rest counted.
    QStringList many{twice};
    for (int i = 1; i <= 12; ++i)
        many << QStringLiteral("Предупреждение: в файле c%1.xml не учтено чисел: 1").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("thirteen warnings") << "" << QByteArray("02145678") << QByteArray("02145678") << 12 << many
                                       << "Предупреждений: 13\n" + many.mid(0, 10).join('\n') + "\nи ещё 3";
    QTest::newRow("ten warnings") << "" << QByteArray() << QByteArray() << 10 << many.mid(1, 10)
                                  << "Предупреждений: 10\n" + many.mid(1, 10).join('\n');
}

void TestMainForm::runSucceeds()
{
    QFETCH(QString, okpo);
    QFETCH(QByteArray, branchA);
    QFETCH(QByteArray, branchB);
    QFETCH(int, lostFiles);
    QFETCH(QStringList, warnings);
    QFETCH(QString, shown);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString in = tmp.filePath("in");
    const QString out = tmp.filePath("out");
    QVERIFY(writeRun(in, branchA, branchB, lostFiles));

    mainForm form;
    edit(form, "okpoEdit")->setText(okpo);
    edit(form, "inputPathEdit")->setText(in);
    edit(form, "outputPathEdit")->setText(out);

    // The same inputs twice in a row give the same file: no totals survive a run.
    QByteArray firstOutput;
    for (int run = 0; run < 2; ++run) {
        DialogAnswerer answerer;
        // The details button shows the whole list and hides it again.
        QStringList detailsCaptions;
        answerer.act = [&](QDialog *dialog) {
            auto *details = dialog->findChild<QPushButton *>("detailsButton");
            while (details && detailsCaptions.size() < 4) {
                details->click();
                detailsCaptions << details->text()
                                << (dialog->findChild<QPlainTextEdit *>("detailsEdit")->isVisible() ? "shown" : "hidden");
            }
            return false;
        };
        click(form, "startButton");
        QTRY_VERIFY(answerer.seen.size() == 1 && idle(form));

        QCOMPARE(answerer.seen.size(), 1);
        const DialogAnswerer::Seen &box = answerer.seen.first();
        QCOMPARE(box.text, QStringLiteral("Отчеты были успешно просуммированны"));
        QCOMPARE(box.parent, form.centralWidget());
        if (warnings.isEmpty()) {
            QCOMPARE(box.title, QStringLiteral("Всё хорошо"));
            QCOMPARE(box.icon, QMessageBox::Information);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(box.detailedText.isEmpty());
        } else {
            QCOMPARE(box.title, QStringLiteral("Есть предупреждения"));
            QCOMPARE(box.icon, QMessageBox::Warning);
            QCOMPARE(box.informativeText, shown);
            QCOMPARE(box.detailedText, warnings.join('\n'));
            QCOMPARE(box.buttonTexts, QStringList({"Подробности…", "Сохранить сводку…", "ОК"}));
            QCOMPARE(detailsCaptions, QStringList({"Скрыть подробности", "shown", "Подробности…", "hidden"}));
            // Not a word of English: only the warnings, which quote file names, hold Latin letters.
            for (QString text : box.allTexts) {
                for (const QString &warning : warnings)
                    text.remove(warning);
                QVERIFY2(!text.contains(QRegularExpression("[A-Za-z]")), qPrintable(text));
            }
        }

        QFile summed(out + "/0601012_2014_3.xml");
        QVERIFY2(summed.open(QIODevice::ReadOnly), qPrintable(summed.fileName()));
        const QByteArray content = summed.readAll();
        QVERIFY(content.contains(">12<")); // 5 + 7
        QVERIFY(content.contains("name=\"okpo\" value=\"" + okpo.toUtf8() + '"'));
        if (run == 0)
            firstOutput = content;
        QCOMPARE(content, firstOutput);
    }

    // The fields keep what the user entered.
    QCOMPARE(edit(form, "okpoEdit")->text(), okpo);
    QCOMPARE(edit(form, "inputPathEdit")->text(), in);
    QCOMPARE(edit(form, "outputPathEdit")->text(), out);
}

void TestMainForm::warningsBoxSaves_data()
{
    QTest::addColumn<bool>("fileDialog"); // the real one, which the answerer cancels
    QTest::addColumn<QString>("answer");  // else the chosen name, below the temporary folder
    QTest::addColumn<bool>("mustFail");
    QTest::addColumn<bool>("closeWhileSaving"); // the box is closed right after the save began
    QTest::addColumn<bool>("refused"); // a report's name: nothing is written

    QTest::newRow("file dialog cancelled") << true << "" << false << false << false;
    QTest::newRow("folder missing") << false << "missing/сводка.xlsx" << true << false << false;
    QTest::newRow("output folder") << false << "out/сводка.xlsx" << false << false << false;
    QTest::newRow("closed while saving") << false << "out/сводка.xlsx" << false << true << false;
    // Never over a report, read or summed: *.xml in either folder is refused.
    QTest::newRow("an input report") << false << "in/a.xml" << true << false << true;
    QTest::newRow("a summed report") << false << "out/0601012_2014_3.xml" << true << false << true;
    QTest::newRow("upper-case .XML") << false << "in/NEW.XML" << true << false << true;
    QTest::newRow("through a link to the input folder") << false << "link/b.xml" << true << false << true;
    QTest::newRow("a .csv in the input folder") << false << "in/сводка.csv" << false << false << false;
}

void TestMainForm::warningsBoxSaves()
{
    QFETCH(bool, fileDialog);
    QFETCH(QString, answer);
    QFETCH(bool, mustFail);
    QFETCH(bool, closeWhileSaving);
    QFETCH(bool, refused);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString in = tmp.filePath("in");
    const QString out = tmp.filePath("out");
    QVERIFY(writeRun(in, "02145678", "02145678", 1));
    QVERIFY(QFile::link(in, tmp.filePath("link")));
    const QString okpo = QStringLiteral("12345678");
    const QString path = answer.isEmpty() ? QString() : tmp.filePath(answer);
    const QByteArray before = QFileInfo::exists(path) ? tu::readFile(path) : QByteArray();

    // What the workbook does with this run and name, whatever its state: the
    // window must show exactly that.
    QString expectedError;
    qint64 expectedSize = -1;
    if (refused) {
        expectedError = "Нельзя записать " + path
            + ": файлы *.xml в папке с отчетами и в папке для сводных отчетов — это отчеты";
    } else if (!path.isEmpty()) {
        Summer summer;
        QVERIFY(summer.readReports(in));
        QDir().mkpath(out);
        Workbook workbook(summer.runRecord(), okpo);
        if (workbook.write(path)) {
            expectedSize = QFileInfo(path).size();
            QVERIFY(QFile::remove(path));
        } else {
            expectedError = workbook.lastError();
        }
        QVERIFY(!mustFail || !expectedError.isEmpty());
    }

    // Chosen names skip the dialog; the real one is tried once, and cancelled.
    if (!fileDialog)
        WarningsBox::setFileNameAsker([&](QWidget *, const QString &, const QString &, const QString &) {
            return path;
        });
    const auto restore = qScopeGuard([] { WarningsBox::setFileNameAsker({}); });

    mainForm form;
    edit(form, "okpoEdit")->setText(okpo);
    edit(form, "inputPathEdit")->setText(in);
    edit(form, "outputPathEdit")->setText(out);

    // Save once, then look at the box again before closing it; or close it
    // at once, while the workbook is being written.
    DialogAnswerer answerer;
    bool saving = true;
    bool stillOpen = false;
    QString saved;
    QString captionWhileSaving;
    answerer.act = [&](QDialog *dialog) {
        auto *save = dialog->findChild<QPushButton *>("saveButton");
        if (!save)
            return false;
        if (saving) {
            saving = false;
            // Queued: the save's own dialogs must meet the answerer's next ticks.
            QTimer::singleShot(0, save, [&, save, dialog] {
                save->click();
                // The workbook is written on its own thread: the click is back
                // at once, the button says so until the workbook is in place.
                captionWhileSaving = save->text() + (save->isEnabled() ? " (enabled)" : " (disabled)");
                if (closeWhileSaving) {
                    dialog->reject();
                    stillOpen = dialog->isVisible();
                }
            });
            return true;
        }
        if (!save->isEnabled())
            return true; // still saving
        stillOpen = dialog->isVisible();
        const auto *label = dialog->findChild<QLabel *>("savedLabel");
        saved = label->isVisible() ? label->text() : QString();
        return false;
    };
    click(form, "startButton");
    QTRY_VERIFY(idle(form));
    QVERIFY(stillOpen);
    // A refused name starts no writing at all.
    QCOMPARE(captionWhileSaving, path.isEmpty() || refused ? QStringLiteral("Сохранить сводку… (enabled)")
                                                           : QStringLiteral("Сохранение… (disabled)"));
    if (closeWhileSaving) {
        // The box closed itself once the workbook was in place.
        QVERIFY(answerer.seen.isEmpty());
        QCOMPARE(QFileInfo(path).size(), expectedSize);
        return;
    }

    QWidget *box = answerer.seen.last().dialog;
    QCOMPARE(answerer.seen.last().title, QStringLiteral("Есть предупреждения"));
    QCOMPARE(answerer.seen.size(), fileDialog || !expectedError.isEmpty() ? 2 : 1);
    if (fileDialog) {
        const DialogAnswerer::Seen &chooser = answerer.seen.first();
        QCOMPARE(chooser.title, QStringLiteral("Сохранить сводку"));
        QCOMPARE(chooser.parent, box);
        QVERIFY(chooser.saving);
        QCOMPARE(clean(chooser.proposedFile), clean(out + "/сводка.xlsx"));
        QCOMPARE(chooser.nameFilters, QStringList{"Книга Excel (*.xlsx)"});
    }
    if (path.isEmpty() || !expectedError.isEmpty()) {
        QVERIFY(saved.isEmpty());
        if (refused) {
            // The report is as it was: no workbook (a zip) took its place.
            QVERIFY(!QFileInfo::exists(path) || !tu::readFile(path).startsWith("PK"));
            QVERIFY(before.isEmpty() || tu::readFile(path) == before);
        } else {
            QVERIFY(path.isEmpty() || !QFileInfo::exists(path));
        }
    }
    if (!expectedError.isEmpty()) {
        const DialogAnswerer::Seen &error = answerer.seen.first();
        QCOMPARE(error.title, QStringLiteral("Ошибка записи"));
        QCOMPARE(error.text, expectedError);
        QCOMPARE(error.icon, QMessageBox::Critical);
        QCOMPARE(error.parent, box);
        QCOMPARE(error.buttonTexts, QStringList{"ОК"});
    }
    if (expectedSize >= 0) {
        QCOMPARE(saved, "Сводка сохранена: " + QDir::toNativeSeparators(path));
        QCOMPARE(QFileInfo(path).size(), expectedSize);
        QVERIFY(tu::readFile(path).startsWith("PK\x03\x04")); // a zip, as every .xlsx
    }
}

void TestMainForm::runFails_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    QTest::newRow("missing input folder") << "missing" << "out" << "Ошибка чтения"
                                          << "Не удаётся нейти исходную папку";
    QTest::newRow("output below a file") << "in" << "file.txt/out" << "Ошибка записи"
                                         << "Не получается открыть файл для записи";
}

void TestMainForm::runFails()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, title);
    QFETCH(QString, text);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(tmp.filePath("in")));
    QVERIFY(writeReport(tmp.filePath("in/a.xml"), "5"));
    QVERIFY(writeReport(tmp.filePath("file.txt"), "0"));

    mainForm form;
    edit(form, "inputPathEdit")->setText(tmp.filePath(input));
    edit(form, "outputPathEdit")->setText(tmp.filePath(output));

    DialogAnswerer answerer;
    click(form, "startButton");
    QTRY_VERIFY(answerer.seen.size() == 1 && idle(form));

    QCOMPARE(answerer.seen.size(), 1);
    const DialogAnswerer::Seen &box = answerer.seen.first();
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, form.centralWidget());
    // A failed read writes nothing, not even the output folder.
    QVERIFY(!QFileInfo::exists(tmp.filePath(output)));
}

void TestMainForm::ownOutputWarns()
{
    // Summed into the folder of the reports, twice: the first run says where
    // its output went, the second that it read that output back.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString in = tmp.filePath("in");
    QVERIFY(writeRun(in, "02145678", "02145691", 0));
    mainForm form;
    edit(form, "okpoEdit")->setText("12345678");
    edit(form, "inputPathEdit")->setText(in);
    edit(form, "outputPathEdit")->setText(in);

    const QString into = QStringLiteral("Предупреждение: сводные отчеты записаны в папку с отчетами; "
                                        "при следующем запуске они будут просуммированы вместе с отчетами");
    const QString readBack = QStringLiteral("Предупреждение: файл 0601012_2014_3.xml похож на сводный отчет "
                                            "прошлого запуска (имя сводного отчета, ОКПО головной организации "
                                            "12345678): его числа учтены еще раз");
    for (const QStringList &warnings : {QStringList{into}, QStringList{readBack, into}}) {
        DialogAnswerer answerer;
        click(form, "startButton");
        QTRY_VERIFY(answerer.seen.size() == 1 && idle(form));
        QCOMPARE(answerer.seen.first().title, QStringLiteral("Есть предупреждения"));
        QCOMPARE(answerer.seen.first().detailedText, warnings.join('\n'));
    }
}

void TestMainForm::windowDuringRun_data()
{
    QTest::addColumn<bool>("aboutShown"); // the authorship line before the run

    QTest::newRow("authorship hidden") << false;
    QTest::newRow("authorship shown") << true;
}

void TestMainForm::windowDuringRun()
{
    QFETCH(bool, aboutShown);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const auto restore = slowRuns(40);

    mainForm form;
    edit(form, "okpoEdit")->setText("12345678");
    QVERIFY(aimAtGroups(form, tmp, 6));
    if (aboutShown)
        click(form, "aboutButton");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QList<QWidget *> locked = {edit(form, "okpoEdit"), edit(form, "inputPathEdit"),
                                     edit(form, "outputPathEdit"), child(form, "inputBrowseButton"),
                                     child(form, "outputBrowseButton"), child(form, "aboutButton")};
    auto *start = child<QPushButton>(form, "startButton");

    DialogAnswerer answerer;
    click(form, "startButton");

    // Right away: the fields locked, the button a stop button in its place,
    // the bar where the authorship line was.
    for (QWidget *widget : locked)
        QVERIFY2(!widget->isEnabled(), qPrintable(widget->objectName()));
    QVERIFY(start->isEnabled());
    QCOMPARE(start->text(), QStringLiteral("Остановить"));
    QCOMPARE(start->geometry(), QRect(14, 130, 291, 23));
    auto *bar = form.findChild<QProgressBar *>("progressBar");
    QVERIFY(bar);
    QCOMPARE(bar->parentWidget(), form.centralWidget());
    QCOMPARE(bar->geometry(), QRect(10, 160, 295, 16));
    QVERIFY(bar->isVisible());
    QVERIFY(child(form, "aboutLabel")->isHidden());

    // Then what it reads, then what it writes, counted.
    const QRegularExpression reading("^Чтение: ([0-6]) из 6 файлов$");
    const QRegularExpression writing("^Запись: ([0-6]) из 6 сводных отчетов$");
    QTRY_VERIFY(reading.match(bar->text()).hasMatch());
    QCOMPARE(bar->value(), reading.match(bar->text()).captured(1).toInt());
    QTRY_VERIFY(writing.match(bar->text()).hasMatch());
    QVERIFY(bar->maximum() == 6 && bar->value() <= 6);

    // After the run the window is as it was before it.
    QTRY_VERIFY_WITH_TIMEOUT(answerer.seen.size() == 1 && idle(form), 10000);
    QCOMPARE(answerer.seen.first().title, QStringLiteral("Всё хорошо"));
    for (QWidget *widget : locked)
        QVERIFY(widget->isEnabled());
    QCOMPARE(edit(form, "okpoEdit")->text(), QStringLiteral("12345678"));
    QCOMPARE(edit(form, "inputPathEdit")->text(), tmp.filePath("in"));
    QCOMPARE(child(form, "aboutLabel")->isVisible(), aboutShown);
    QStringList children;
    for (QObject *object : form.centralWidget()->children())
        children << object->objectName();
    QCOMPARE(children.size(), 11); // nothing left behind
    QCOMPARE(QDir(tmp.filePath("out")).entryList(QDir::Files).size(), 6);
}

void TestMainForm::stopEndsTheRun_data()
{
    QTest::addColumn<QString>("when"); // the bar's text that the stop waits for
    QTest::addColumn<bool>("stopped");

    QTest::newRow("while reading") << "^Чтение: [3-9] из 12 файлов$" << true;
    QTest::newRow("while writing") << "^Запись: [2-9] из 12 сводных отчетов$" << true;
    // A double click on "Старт!" starts the run and does not stop it.
    QTest::newRow("double click on start") << "" << false;
}

void TestMainForm::stopEndsTheRun()
{
    QFETCH(QString, when);
    QFETCH(bool, stopped);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString out = tmp.filePath("out");
    const auto restore = slowRuns(60);

    mainForm form;
    QVERIFY(aimAtGroups(form, tmp, 12));
    DialogAnswerer answerer;
    QElapsedTimer sinceStart;
    click(form, "startButton");
    sinceStart.start();
    auto *bar = form.findChild<QProgressBar *>("progressBar");
    QVERIFY(bar);
    if (when.isEmpty()) {
        QTest::qWait(30);
        click(form, "startButton");
    } else {
        QTRY_VERIFY(QRegularExpression(when).match(bar->text()).hasMatch()
                    && sinceStart.elapsed() > QGuiApplication::styleHints()->mouseDoubleClickInterval());
        click(form, "startButton");
    }
    QTRY_VERIFY_WITH_TIMEOUT(answerer.seen.size() == 1 && idle(form), 10000);

    const DialogAnswerer::Seen &box = answerer.seen.first();
    QCOMPARE(box.parent, form.centralWidget());
    const QStringList written = QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (!stopped) {
        QCOMPARE(box.title, QStringLiteral("Всё хорошо"));
        QCOMPARE(written.size(), 12);
        return;
    }
    QCOMPARE(box.title, QStringLiteral("Остановлено"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    if (when.startsWith("^Чтение")) {
        QCOMPARE(box.text, QStringLiteral("Суммирование остановлено, сводные отчеты не записаны"));
        QVERIFY(written.isEmpty());
        return;
    }
    // The reports in place are the first ones, each whole; nothing else is there.
    const QRegularExpression text("^Суммирование остановлено, записано (\\d+) из 12 сводных отчетов$");
    const QRegularExpressionMatch match = text.match(box.text);
    QVERIFY2(match.hasMatch(), qPrintable(box.text));
    const int n = match.captured(1).toInt();
    QVERIFY(n >= 2 && n < 12);
    QStringList expected;
    for (int i = 0; i < n; ++i)
        expected << QStringLiteral("0601012_%1_3.xml").arg(2001 + i);
    QCOMPARE(written, expected);
    for (const QString &name : expected)
        QVERIFY(tu::readFile(QDir(out).filePath(name)).endsWith("</report>\n"));
}

void TestMainForm::closeDuringRun_data()
{
    QTest::addColumn<QString>("answer");

    QTest::newRow("stop and close") << "Остановить";
    QTest::newRow("go on") << "Продолжить";
}

void TestMainForm::closeDuringRun()
{
    QFETCH(QString, answer);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString out = tmp.filePath("out");
    const auto restore = slowRuns(40);

    mainForm form;
    QVERIFY(aimAtGroups(form, tmp, 12));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    DialogAnswerer answerer;
    QStringList question; // title, text and buttons of the close question
    answerer.act = [&](QDialog *dialog) {
        if (dialog->windowTitle() != QStringLiteral("Идет суммирование"))
            return false;
        auto *box = qobject_cast<QMessageBox *>(dialog);
        question = QStringList{box->windowTitle(), box->text()};
        for (QAbstractButton *b : box->buttons())
            question << b->text();
        static_cast<QAbstractButton *>(button(dialog, answer))->click();
        return true;
    };
    click(form, "startButton");
    QTimer::singleShot(200, &form, &QWidget::close);

    if (answer == QStringLiteral("Остановить")) {
        // The program ends as closing it does, once the run has stopped.
        QTimer::singleShot(10000, [] { QApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!form.isVisible());
        QVERIFY(answerer.seen.isEmpty()); // no outcome box
        // Only whole reports, if any.
        for (const QString &name : QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            QVERIFY2(name.endsWith(".xml"), qPrintable(name));
            QVERIFY(tu::readFile(QDir(out).filePath(name)).endsWith("</report>\n"));
        }
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(answerer.seen.size() == 1 && idle(form), 10000);
        QCOMPARE(answerer.seen.first().title, QStringLiteral("Всё хорошо"));
        QVERIFY(form.isVisible());
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 12);
    }
    QCOMPARE(question, QStringList({"Идет суммирование", "Остановить суммирование и закрыть программу?",
                                    "Остановить", "Продолжить"}));
}

void TestMainForm::dropPutsFolder_data()
{
    QTest::addColumn<QString>("target"); // the widget dropped on
    QTest::addColumn<QString>("field");  // the field it fills
    QTest::addColumn<QString>("dropped"); // below the temporary folder; "text:" or "url:" for others
    QTest::addColumn<QString>("expected"); // below the temporary folder; empty: refused

    QTest::newRow("folder on the input field") << "inputPathEdit" << "inputPathEdit" << "reports" << "reports";
    QTest::newRow("folder on the output field") << "outputPathEdit" << "outputPathEdit" << "reports" << "reports";
    QTest::newRow("folder on the input button") << "inputBrowseButton" << "inputPathEdit" << "reports" << "reports";
    QTest::newRow("file on the output button") << "outputBrowseButton" << "outputPathEdit" << "reports/a.xml"
                                              << "reports";
    QTest::newRow("file on the input field") << "inputPathEdit" << "inputPathEdit" << "reports/a.xml" << "reports";
    QTest::newRow("missing folder") << "inputPathEdit" << "inputPathEdit" << "gone" << "";
    QTest::newRow("text") << "inputPathEdit" << "inputPathEdit" << "text:/tmp" << "";
    QTest::newRow("web address") << "outputBrowseButton" << "outputPathEdit" << "url:https://example.org/" << "";
}

void TestMainForm::dropPutsFolder()
{
    QFETCH(QString, target);
    QFETCH(QString, field);
    QFETCH(QString, dropped);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(writeRun(tmp.filePath("reports"), "", "", 0));

    mainForm form;
    edit(form, "inputPathEdit")->setText("typed");
    edit(form, "outputPathEdit")->setText("typed");
    QMimeData mime;
    if (dropped.startsWith("text:"))
        mime.setText(dropped.mid(5));
    else if (dropped.startsWith("url:"))
        mime.setUrls({QUrl(dropped.mid(4))});
    else
        mime.setUrls({QUrl::fromLocalFile(tmp.filePath(dropped))});

    QWidget *on = child(form, target);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QCOMPARE(enter.isAccepted(), !expected.isEmpty());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &drop);
    QCOMPARE(drop.isAccepted(), !expected.isEmpty());

    // The folder with the system's separators, in that field and no other.
    const QString other = field == "inputPathEdit" ? "outputPathEdit" : "inputPathEdit";
    QCOMPARE(edit(form, qPrintable(field))->text(),
             expected.isEmpty() ? QStringLiteral("typed") : QDir::toNativeSeparators(tmp.filePath(expected)));
    QCOMPARE(edit(form, qPrintable(other))->text(), QStringLiteral("typed"));
}

void TestMainForm::closingTheWindowEndsTheProgram()
{
    // As the program runs it: the event loop ends with 0 once the window is closed.
    mainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTimer::singleShot(0, &form, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"

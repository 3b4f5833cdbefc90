#ifndef WARNINGSBOX_H
#define WARNINGSBOX_H

#include "runrecord.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QThread;

// The box that ends a successful run with warnings. Laid out like the other
// outcome boxes (a warning icon, the outcome line), then the number of
// warnings and the first of them in plain sight, the whole list behind a
// details button, and a button that saves the run's workbook. Not a
// QMessageBox, which closes on every button: this box stays open after a save
// so the person can go on reading. The workbook is written on a thread of its
// own, which may take a while for a large run; the box stays alive meanwhile,
// and closing it waits for the workbook to be in place.
class WarningsBox : public QDialog
{
    Q_OBJECT

public:
    // The box keeps run, the record of the run it ends: the warnings shown
    // and the workbook are made from it, with okpo as the head organisation's
    // code. The save dialog proposes сводка.xlsx in the output folder.
    WarningsBox(RunRecord run, const QString &okpo, const QString &inputFolder, const QString &outputFolder,
                QWidget *parent = nullptr);
    // Waits for a workbook still being written.
    ~WarningsBox() override;

    // While a workbook is being written, closing the box (by any of its ways)
    // waits until it is in place, then closes.
    void done(int result) override;

    // Asks for the name of the workbook to write: (parent, caption, proposed
    // name, filter) -> the chosen name, empty when cancelled. By default
    // QFileDialog::getSaveFileName; replaceable so that tests answer it
    // without a dialog. An empty function restores the default.
    using FileNameAsker = std::function<QString(QWidget *, const QString &, const QString &,
                                                const QString &)>;
    static void setFileNameAsker(const FileNameAsker &asker);

private:
    // Asks for a file name and writes the workbook there; a failure is shown
    // in the "Ошибка записи" box, a success in a line of this box.
    void save();
    void saved(const QString &path, bool ok, const QString &error);
    void showWriteError(const QString &text);
    void toggleDetails();

    const RunRecord run;
    const QString okpo;
    const QString inputFolder;
    const QString outputFolder;
    QPushButton *saveButton = nullptr;
    QThread *saving = nullptr; // writes the workbook
    bool closeWhenSaved = false;
    int closeResult = 0;
    QPushButton *detailsButton = nullptr;
    QPlainTextEdit *detailsEdit = nullptr;
    QLabel *savedLabel = nullptr;
};

#endif // WARNINGSBOX_H

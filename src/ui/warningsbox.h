#ifndef WARNINGSBOX_H
#define WARNINGSBOX_H

#include "runrecord.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The box that ends a successful run with warnings. Laid out like the other
// outcome boxes (a warning icon, the outcome line), then the number of
// warnings and the first of them in plain sight, the whole list behind a
// details button, and a button that saves the run's workbook. Every caption
// is Russian: QMessageBox would add its own English "OK" and "Show Details...",
// and it closes on every button, while this box stays open after a save so
// the person can go on reading.
class WarningsBox : public QDialog
{
    Q_OBJECT

public:
    // The box keeps run, the record of the run it ends: the warnings shown
    // and the workbook are made from it, with okpo as the head organisation's
    // code. defaultPath is the file name the save dialog proposes.
    WarningsBox(RunRecord run, const QString &okpo, const QString &defaultPath, QWidget *parent = nullptr);
    ~WarningsBox() override;

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
    void toggleDetails();

    const RunRecord run;
    const QString okpo;
    const QString defaultPath;
    QPushButton *detailsButton = nullptr;
    QPlainTextEdit *detailsEdit = nullptr;
    QLabel *savedLabel = nullptr;
};

#endif // WARNINGSBOX_H

#ifndef MAINFORM_H
#define MAINFORM_H

#include <QMainWindow>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The widgets of the main window, one pointer each, in the order they are
// created. The pointers do not own anything: centralwidget belongs to the
// window and every other widget to centralwidget.
struct mainFormWidgets
{
    QWidget *centralwidget = nullptr;
    QLineEdit *inputPathEdit = nullptr;
    QPushButton *inputBrowseButton = nullptr;
    QPushButton *startButton = nullptr;
    QLabel *label = nullptr;
    QLabel *label_2 = nullptr;
    QLineEdit *outputPathEdit = nullptr;
    QPushButton *outputBrowseButton = nullptr;
    QPushButton *aboutButton = nullptr;
    QLabel *aboutLabel = nullptr;
    QLabel *label_3 = nullptr;
    QLineEdit *okpoEdit = nullptr;

    // Creates, places and labels all widgets inside window.
    void setupWidgets(QMainWindow *window);
};

// The program's only window: the OKPO code, the input and output folders,
// and the buttons that browse for the folders, run the summing and show
// the authorship line.
class mainForm : public QMainWindow
{
    Q_OBJECT

public:
    mainForm();
    ~mainForm() override;

public slots:
    // Shared by both browse buttons; the sender's object name says which
    // field gets the chosen folder.
    void btBrowseClick();
    // Sums the reports of the input folder into the output folder.
    void btRunClick();
    // Shows or hides the authorship line.
    void btAboutClick();

private:
    mainFormWidgets ui;
};

#endif // MAINFORM_H

#ifndef MAINFORM_H
#define MAINFORM_H

#include <QElapsedTimer>
#include <QMainWindow>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;
class SummingRun;

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
// the authorship line. The summing runs on a thread of its own: meanwhile the
// window shows how far it has come and its start button stops it.
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
    // Starts summing the reports of the input folder into the output
    // folder; while a run goes on, stops it.
    void btRunClick();
    // Shows or hides the authorship line.
    void btAboutClick();

protected:
    // Closing during a run asks whether to stop it first.
    void closeEvent(QCloseEvent *event) override;
    // Folders dropped on the folder fields and their browse buttons.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startRun();
    void runFinished();
    void showOutcome(const SummingRun &run);
    void showProgress();
    // Disables the fields and shows the progress bar in the about line's
    // place while a run goes on; puts everything back as it was after.
    void setRunning(bool running);
    QLineEdit *dropTarget(const QObject *watched) const;

    mainFormWidgets ui;

    // While a run goes on:
    SummingRun *run = nullptr;
    QProgressBar *progressBar = nullptr;
    QTimer *progressTimer = nullptr;
    QElapsedTimer runClock;
    bool aboutWasVisible = false;
    bool asking = false;         // the close question is open
    bool finishedWhileAsking = false;
    bool closeAfterRun = false;  // the user chose to stop and close
};

#endif // MAINFORM_H

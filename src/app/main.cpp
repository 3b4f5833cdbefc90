#include "mainform.h"
#include "qttranslation.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Before the window is made: its dialogs and menus are Qt's own.
    qttranslation::install(&app);
    mainForm window;
    window.show();
    return app.exec();
}

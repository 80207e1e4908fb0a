#include "frmSplash.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The main window may be hidden in the tray while other windows close; only it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    frmSplash splash;
    splash.Form_Load();
    splash.show();
    return app.exec();
}

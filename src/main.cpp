#include "frmSplash.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The web engine, loaded late with the browser window, crashes without shared GL contexts, and
    // they can only be asked for before the application exists. The attribute itself maps nothing.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The main window may be hidden in the tray while other windows close; only it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    frmSplash splash;
    splash.Form_Load();
    splash.show();
    return app.exec();
}

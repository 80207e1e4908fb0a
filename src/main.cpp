#include "frmSplash.h"

#include <QApplication>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char **argv)
{
#ifdef __GLIBC__
    // One malloc arena for every thread: the program's threads (X events, D-Bus, network, the
    // settings writer) are idle nearly all the time, and an arena of its own per thread kept some
    // 600 kB of free and half-used pages dirty for the whole run.
    mallopt(M_ARENA_MAX, 1);
#endif
    QApplication app(argc, argv);
    // The main window may be hidden in the tray while other windows close; only it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    frmSplash splash;
    splash.Form_Load();
    splash.show();
    return app.exec();
}

#include "AddressMonitor.h"
#include "Form1.h"
#include "HeapPolicy.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"
#include "UiLog.h"
#include "frmSplash.h"

#include <netquill/BuildIdentity.h>

#include <QApplication>

int main(int argc, char **argv)
{
    HeapPolicy::oneArena();
    HeapPolicy::largeBlocksMapped();
    // The overlay's place in the corner and above other windows need X. Under Wayland with XWayland
    // at hand, and no platform chosen by the user, the program runs on XWayland.
    const bool onXWayland = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
                            !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                            !qEnvironmentVariableIsEmpty("DISPLAY");
    if (onXWayland)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    // A Wayland compositor finds the window's icon and name by this id, not by the program's name.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(BuildIdentity::AppId));
    if (onXWayland)
        qCInfo(lcUi) << "Running on XWayland, where the overlay can be placed and kept on top;"
                     << "QT_QPA_PLATFORM=wayland runs on Wayland instead";
    else if (QGuiApplication::platformName() == QLatin1String("wayland"))
        qCWarning(lcUi)
            << "On Wayland the overlay cannot be placed in the corner or kept above other windows";
    // The main window may be hidden in the tray while other windows close; only it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // The program: its settings and the model, which the windows show and edit.
    SettingsStore store(QString::fromUtf8(BuildIdentity::ProductName));
    AddressMonitor monitor(store);
    frmSplash splash(monitor, store);
    splash.Form_Load();
    splash.show();
    // SIGTERM (a log-out, systemd, kill), SIGINT and SIGHUP end the program through the event loop, so that
    // saves are finished and the windows go before the application object.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::requested, &app, [&splash] {
        if (Form1 *window = splash.mainWindow())
            window->EndForSignal();
        else
            QCoreApplication::exit(0);
    });
    return app.exec();
}

// The program's own start-up and main window, sending notifications back to back through the
// "Send" operation once start-up is over: the session as it runs beside the window's repaints.
// Usage: bench_mail <count> [settle-ms]   (the mail settings come from the settings file)
#include "AddressMonitor.h"
#include "BenchCommon.h"
#include "Form1.h"
#include "SettingsStore.h"
#include "frmSplash.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    Bench::heapAsMain();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_mail <count> [settle-ms]\n");
        return 2;
    }
    const int count = QByteArray(argv[1]).toInt();
    const int settle = argc > 2 ? QByteArray(argv[2]).toInt() : 1500;
    int sent = 0;
    SettingsStore store(QStringLiteral("Netquill"));
    AddressMonitor monitor(store);
    frmSplash splash(monitor, store);
    QObject::connect(&splash, &frmSplash::mainWindowShown, &app, [&](Form1 *form) {
        QObject::connect(&monitor, &AddressMonitor::statusChanged, &app, [&, form](const QString &text) {
            if (text.startsWith(QLatin1String("Error"))) {
                std::fprintf(stderr, "send %d: %s\n", sent, qPrintable(text));
                app.exit(1);
            } else if (text == QLatin1String("Message Sent") && ++sent == count) {
                // Time for the last QUIT to leave before the program ends.
                QTimer::singleShot(300, &app, &QCoreApplication::quit);
            } else if (text == QLatin1String("Message Sent")) {
                QTimer::singleShot(0, form, &Form1::cmdSend_Click);
            }
        });
        QTimer::singleShot(settle, form, &Form1::cmdSend_Click);
    });
    splash.Form_Load();
    splash.show();
    return app.exec();
}

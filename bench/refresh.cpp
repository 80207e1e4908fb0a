// The program's own start-up and main window, with Refresh clicked again as soon as each lookup ends:
// against a page whose address changes every time, every lookup is a change, a save and a history line.
// Usage: bench_refresh <lookups> [rss-checkpoint...]   (the page comes from NETQUILL_IP_HOST)
// Prints "rss_kb <lookups> <kB>" at each checkpoint.
#include "AddressMonitor.h"
#include "BenchCommon.h"
#include "Form1.h"
#include "SettingsStore.h"
#include "frmSplash.h"

#include <QApplication>
#include <QSet>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    Bench::heapAsMain();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_refresh <lookups> [rss-checkpoint...]\n");
        return 2;
    }
    const int lookups = QByteArray(argv[1]).toInt();
    QSet<int> checkpoints;
    for (int i = 2; i < argc; ++i)
        checkpoints.insert(QByteArray(argv[i]).toInt());
    int done = 0;
    SettingsStore store(QStringLiteral("Netquill"));
    AddressMonitor monitor(store);
    frmSplash splash(monitor, store);
    // The main window's own first lookup is the first one counted.
    QObject::connect(&monitor, &AddressMonitor::lookupFinished, &app, [&](const LookupResult &result) {
        if (!result.answered()) {
            std::fprintf(stderr, "lookup %d: %s\n", done, qPrintable(result.cause));
            app.exit(1);
            return;
        }
        ++done;
        if (checkpoints.contains(done)) {
            std::printf("rss_kb %d %lld\n", done, Bench::rssKb());
            std::fflush(stdout);
        }
        if (done == lookups)
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        else
            QTimer::singleShot(0, splash.mainWindow(), &Form1::Command1_Click);
    });
    splash.Form_Load();
    splash.show();
    return app.exec();
}

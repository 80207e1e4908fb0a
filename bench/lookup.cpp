// Refresh to "Finished looking up IPs", again and again, with the store in $XDG_CONFIG_HOME.
// Usage: bench_lookup <url> <cycles> [--confirm-with <url>] [rss-checkpoint...]
// With --confirm-with, a second source of another host confirms each change.
// Prints "cycle_us <n>" per lookup and "rss_kb <lookups> <kB>" at each checkpoint.
#include "BenchCommon.h"
#include "LookupCycle.h"
#include "PageFetcher.h"
#include "SettingsStore.h"
#include "Winsock.h"

#include <QCoreApplication>
#include <QSet>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_lookup <url> <cycles> [rss-checkpoint...]\n");
        return 2;
    }
    const QUrl page(QString::fromLocal8Bit(argv[1]));
    const int cycles = QByteArray(argv[2]).toInt();
    QSet<int> checkpoints;
    QUrl confirmer;
    for (int i = 3; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--confirm-with" && i + 1 < argc)
            confirmer = QUrl(QString::fromLocal8Bit(argv[++i]));
        else
            checkpoints.insert(QByteArray(argv[i]).toInt());
    }

    SettingsStore store(QStringLiteral("Netquill"));
    PageFetcher fetcher;
    Winsock socket;
    LookupCycle lookup(store, &fetcher, page, [&socket] { return socket.LocalIP(); });
    lookup.LoadPrevious();
    if (confirmer.isValid())
        lookup.setSources({IpSource{true, QUrl(), true}, IpSource{false, confirmer, true}});

    int done = 0;
    long long started = 0;
    auto next = [&] {
        if (checkpoints.contains(done)) {
            std::printf("rss_kb %d %lld\n", done, Bench::rssKb());
            std::fflush(stdout);
        }
        if (done == cycles) {
            app.quit();
            return;
        }
        started = Bench::nowUs();
        lookup.Refresh();
    };
    QObject::connect(&lookup, &LookupCycle::statusChanged, &app, [&](const QString &text) {
        if (text == LookupCycle::StatusLooking)
            return;
        if (text != LookupCycle::StatusFinished) {
            std::fprintf(stderr, "lookup %d ended with: %s\n", done, qPrintable(text));
            app.exit(1);
            return;
        }
        std::printf("cycle_us %lld\n", Bench::nowUs() - started);
        ++done;
        QTimer::singleShot(0, &app, next);
    });
    QTimer::singleShot(0, &app, next);
    return app.exec();
}

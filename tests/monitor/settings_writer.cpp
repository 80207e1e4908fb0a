// Writes one setting (or, after --both, the two previous addresses in one save) and is killed at
// once, to show that a write is on disk when the save returns.
// --background-quit <external> <internal>: saves the pair in the background and ends the event loop
// at once; the store is never deleted (as the main window's is not), then the process is killed.
// --background-loop: saves the pair 0 (203.0.113.0, 10.0.0.0), prints "ready", then saves pair after
// pair in the background until it is killed.
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {
QList<std::pair<SettingKeys::Key, QString>> pair(const QString &external, const QString &internal)
{
    return {{SettingKeys::OldExternal, external}, {SettingKeys::OldInternal, internal}};
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (argc == 4 && mode == "--background-quit") {
        auto *store = new SettingsStore(QStringLiteral("Netquill"));
        QTimer::singleShot(0, &app, [&] {
            store->SaveSettingsInBackground(pair(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[3])));
            app.quit();
        });
        app.exec();
        std::raise(SIGKILL);
        return 1;
    }
    SettingsStore store(QStringLiteral("Netquill"));
    if (argc == 2 && mode == "--background-loop") {
        store.SaveSettings(pair(QStringLiteral("203.0.113.0"), QStringLiteral("10.0.0.0")));
        std::puts("ready");
        std::fflush(stdout);
        for (int i = 1;; ++i) {
            const QString n = QString::number(i % 250);
            store.SaveSettingsInBackground(
                pair(QStringLiteral("203.0.113.") + n, QStringLiteral("10.0.0.") + n));
            QThread::msleep(1);
        }
    }
    if (argc == 4 && mode == "--both")
        store.SaveSettings(pair(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[3])));
    else if (argc == 3)
        store.SaveSetting(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    else
        return 2;
    std::raise(SIGKILL);
    return 1;
}

// Writes one setting (or, after --both, the two previous addresses in one save) and is killed as soon
// as WaitForWrites returns, to show that the save is on the disk by then.
// --background-quit <external> <internal>: saves the pair in the background and ends the event loop
// at once; the store is never deleted (as the main window's is not), then the process is killed.
// --background-loop: saves the pair 0 (203.0.113.0, 10.0.0.0), prints "ready", then saves pair after
// pair in the background until it is killed.
// --limit <bytes> <key> <value>: saves one setting with files limited to that size (a nearly full
// disk), prints "saved" or "failed", what GetSetting then answers and the reported reason, waits for a
// line on standard input, lifts the limit, saves refresh=1 and exits with 0 when that save succeeded.
// --count <key> <saves>: saves <key>0=0, prints "ready", waits for a line on standard input, then
// saves <key>1=1, <key>2=2, ... up to <saves>, one write each, and exits with 0. A key is never saved
// twice, so a value another process's save undoes stays missing from the file.
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/resource.h>

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
            store->SaveSettings(pair(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[3])));
            app.quit();
        });
        app.exec();
        std::raise(SIGKILL);
        return 1;
    }
    SettingsStore store(QStringLiteral("Netquill"));
    if (argc == 2 && mode == "--background-loop") {
        store.SaveSettings(pair(QStringLiteral("203.0.113.0"), QStringLiteral("10.0.0.0")));
        store.WaitForWrites();
        std::puts("ready");
        std::fflush(stdout);
        for (int i = 1;; ++i) {
            const QString n = QString::number(i % 250);
            store.SaveSettings(pair(QStringLiteral("203.0.113.") + n, QStringLiteral("10.0.0.") + n));
            QThread::msleep(1);
        }
    }
    if (argc == 5 && mode == "--limit") {
        // A write beyond the limit then fails with EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const rlimit limited{rlim_t(QByteArray(argv[2]).toULongLong()), unlimited.rlim_max};
        if (setrlimit(RLIMIT_FSIZE, &limited) != 0)
            return 2;
        QString reason;
        QObject::connect(&store, &SettingsStore::saveFailed, [&](const QString &text) { reason = text; });
        const QString key = QString::fromUtf8(argv[3]);
        store.SaveSetting(key, QString::fromUtf8(argv[4]));
        const bool saved = store.WaitForWrites();
        std::cout << (saved ? "saved|" : "failed|") << store.GetSetting(key, QString()).toStdString() << '|'
                  << reason.toStdString() << std::endl;
        std::string line;
        std::getline(std::cin, line);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        store.SaveSetting(QStringLiteral("refresh"), QStringLiteral("1"));
        return store.WaitForWrites() ? 0 : 3;
    }
    if (argc == 4 && mode == "--count") {
        const QString key = QString::fromUtf8(argv[2]);
        const int saves = QByteArray(argv[3]).toInt();
        store.SaveSetting(key + QStringLiteral("0"), QStringLiteral("0"));
        if (!store.WaitForWrites())
            return 3;
        std::puts("ready");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        for (int i = 1; i <= saves; ++i) {
            store.SaveSetting(key + QString::number(i), QString::number(i));
            if (!store.WaitForWrites())
                return 3;
        }
        return 0;
    }
    if (argc == 4 && mode == "--both")
        store.SaveSettings(pair(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[3])));
    else if (argc == 3)
        store.SaveSetting(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
    else
        return 2;
    store.WaitForWrites();
    std::raise(SIGKILL);
    return 1;
}

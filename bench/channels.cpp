// Lookups that find a change, one after another, through the model the window runs on its thread,
// with the notice channels and the mail the settings name. A cycle ends once the lookup has ended,
// its mail has ended (when mail is on) and every channel's notice has ended.
// Usage: bench_channels <cycles> [channel-list-json]   (the page comes from NETQUILL_IP_HOST)
// Prints "cycle <n> <thread-cpu-us> <wall-us>" per cycle, where the CPU time of this (main) thread runs
// from the cycle's Refresh to the next one's (work left behind by a cycle is counted in it), and
// "status <n> <text>" for each status text of the cycle, in order.
#include "AddressMonitor.h"
#include "BenchCommon.h"
#include "SettingKeys.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {
long long threadCpuUs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}
} // namespace

int main(int argc, char **argv)
{
    Bench::heapAsMain();
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_channels <cycles> [channel-list-json]\n");
        return 2;
    }
    const int cycles = QByteArray(argv[1]).toInt();
    SettingsStore store(QStringLiteral("Netquill"));
    // Through the store: the list's JSON would need quoting by hand in the file.
    store.SaveSetting(SettingKeys::NoticeChannels, argc > 2 ? QString::fromUtf8(argv[2]) : QString());
    store.WaitForWrites();
    AddressMonitor monitor(store);
    monitor.setRepeat(AddressMonitor::Repeat::Never);
    monitor.setChannelRetryDelays({}); // a failed send ends the run at once rather than minutes later
    monitor.Load();
    const bool mail = monitor.emailNotify();

    int done = 0;
    bool looked = false;
    bool mailed = false;
    long long cpuStarted = 0;
    long long wallStarted = 0;
    long long wallUs = 0;
    auto fail = [&](const QString &why) {
        std::fprintf(stderr, "cycle %d: %s\n", done, qPrintable(why));
        app.exit(1);
    };
    auto next = [&] {
        const long long cpu = threadCpuUs();
        if (done > 0)
            std::printf("cycle %d %lld %lld\n", done - 1, cpu - cpuStarted, wallUs);
        if (done == cycles) {
            app.quit();
            return;
        }
        cpuStarted = cpu;
        wallStarted = Bench::nowUs();
        monitor.Refresh();
    };
    auto maybeEnd = [&] {
        if (!looked || (mail && !mailed) || monitor.channelsBusy())
            return;
        looked = mailed = false;
        wallUs = Bench::nowUs() - wallStarted;
        ++done;
        QTimer::singleShot(0, &app, next);
    };
    QObject::connect(&monitor, &AddressMonitor::statusChanged, &app,
                     [&](const QString &text) { std::printf("status %d %s\n", done, qPrintable(text)); });
    QObject::connect(&monitor, &AddressMonitor::lookupFinished, &app, [&](const LookupResult &result) {
        if (!result.changed)
            return fail(QStringLiteral("no change: ") + result.cause);
        looked = true;
        // The channels are handed the notice right after this signal.
        QTimer::singleShot(0, &app, maybeEnd);
    });
    QObject::connect(&monitor, &AddressMonitor::noticeEnded, &app, [&](bool delivered) {
        if (!delivered)
            return fail(QStringLiteral("the mail was not delivered"));
        mailed = true;
        maybeEnd();
    });
    QObject::connect(&monitor, &AddressMonitor::channelEnded, &app,
                     [&](const QString &name, bool delivered, const QString &cause) {
                         if (!delivered)
                             fail(name + QStringLiteral(": ") + cause);
                     });
    QObject::connect(&monitor, &AddressMonitor::channelsIdle, &app, maybeEnd);
    QTimer::singleShot(0, &app, next);
    return app.exec();
}

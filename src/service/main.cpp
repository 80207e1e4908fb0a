#include "AddressMonitor.h"
#include "DnsQuery.h"
#include "HeapPolicy.h"
#include "MetricsFile.h"
#include "MonitorService.h"
#include "Orphans.h"
#include "ServiceLog.h"
#include "SettingsStore.h"

#include <netquill/BuildIdentity.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int ExitUsage = 2;

int usageError(const QString &text)
{
    const QByteArray message =
        "netquill-monitor: " + text.toUtf8() + "\nTry 'netquill-monitor --help' for more information.\n";
    std::fputs(message.constData(), stderr);
    return ExitUsage;
}

/// Why the settings file cannot be read; empty when it can (or is not there yet, which is the defaults).
QString unreadable(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return {};
    if (info.isDir())
        return QStringLiteral("it is a folder");
    return info.isReadable() ? QString() : QStringLiteral("permission denied");
}
} // namespace

int main(int argc, char **argv)
{
    HeapPolicy::largeBlocksMapped();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netquill-monitor"));
    // The package's version: the fourth number counts builds for the Windows resource only.
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(BuildIdentity::VersionMajor)
                                                .arg(BuildIdentity::VersionMinor)
                                                .arg(BuildIdentity::VersionPatch));
    ServiceLog::install();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Watches the internal and external IP address and mails a change, with the settings of the "
        "desktop program.\n"
        "Without an option it runs as a service: a lookup at start, then one at the stored interval, "
        "until SIGTERM or SIGINT. The service always repeats at the stored interval, whether or not auto "
        "refresh is ticked in the desktop program; --interval overrides it. A lookup that fails is made "
        "again at the next interval, and with watchNetwork=1 one follows each network change. Events go "
        "to standard error, one line each.\n"
        "A change is mailed when the desktop program's e-mail option is on (emailNotify=1). While the "
        "service runs, the desktop program leaves the mailing to it.\n"
        "The mail password: $CREDENTIALS_DIRECTORY/mail-password (a systemd credential), else the file "
        "named by passwordFile in the settings, used only while no one but its owner can read it, else "
        "the keyring.\n"
        "Exit status:\n"
        "  0  done; the service ends with 0 on SIGTERM or SIGINT\n"
        "  1  failed: the lookup (--once, --print); the notice, the command on change or saving the "
        "addresses (--once); no home folder, or the settings file unreadable; another netquill-monitor "
        "of this user runs already and holds the lock, or the lock file cannot be made (the service)\n"
        "  2  bad arguments"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption once(QStringLiteral("once"),
                                  QStringLiteral("One lookup: store the addresses and mail a change as the "
                                                 "service does, then exit (1 when it failed)."));
    const QCommandLineOption print(
        QStringLiteral("print"),
        QStringLiteral("Look up and print both addresses; nothing is stored or sent."));
    const QCommandLineOption history(
        QStringLiteral("history"),
        QStringLiteral("Print the recorded address changes and outages, oldest first."));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("With --print: one JSON object; with --history: a JSON array."));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("Look up every <minutes> (1 to 1440) instead of the stored "
                       "interval; the service repeats even where auto refresh is off."),
        QStringLiteral("minutes"));
    const QCommandLineOption metrics(
        QStringLiteral("metrics-file"),
        QStringLiteral("After every lookup, write Prometheus figures to <path> (for node_exporter's "
                       "textfile collector) instead of the file the settings name."),
        QStringLiteral("path"));
    const QCommandLineOption testNotify(
        QStringLiteral("test-notify"),
        QStringLiteral("Send a test notice through the notice channel <name> (as the desktop program's "
                       "Notification Channels window names it) and exit: 0 when it was delivered, else 1."),
        QStringLiteral("name"));
    parser.addOptions({once, print, history, json, interval, metrics, testNotify});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    if (parser.isSet(once) && parser.isSet(print))
        return usageError(QStringLiteral("--once and --print exclude each other."));
    if (parser.isSet(testNotify) && (parser.isSet(once) || parser.isSet(print) || parser.isSet(history) ||
                                     parser.isSet(json) || parser.isSet(interval) || parser.isSet(metrics)))
        return usageError(QStringLiteral("--test-notify goes alone."));
    if (parser.isSet(history) && (parser.isSet(once) || parser.isSet(print)))
        return usageError(QStringLiteral("--history goes alone, or with --json."));
    if (parser.isSet(json) && !parser.isSet(print) && !parser.isSet(history))
        return usageError(QStringLiteral("--json goes with --print or --history."));
    if (parser.isSet(metrics) && (parser.isSet(print) || parser.isSet(history)))
        return usageError(QStringLiteral("--metrics-file is for the service and --once."));
    if (parser.isSet(metrics) && !MetricsFile::isMetricsName(parser.value(metrics)))
        return usageError(QStringLiteral("--metrics-file takes a file name ending in .prom, not '%1'.")
                              .arg(parser.value(metrics)));
    int minutes = 0;
    if (parser.isSet(interval)) {
        if (parser.isSet(once) || parser.isSet(print) || parser.isSet(history))
            return usageError(
                QStringLiteral("--interval is for the service, not for --once, --print or --history."));
        const std::optional<int> value = SettingsStore::toWholeNumber(parser.value(interval));
        if (!value || *value < 1 || *value > 1440)
            return usageError(
                QStringLiteral("--interval takes a whole number of minutes from 1 to 1440, not '%1'.")
                    .arg(parser.value(interval)));
        minutes = *value;
    }

    // Nothing is made outside the user's own folders: without one there is nowhere to keep settings.
    if (const QString why = SettingsStore::whyNoConfigFolder(); !why.isEmpty()) {
        qCCritical(lcService).noquote() << "No folder for the settings:" << why;
        return 1;
    }
    if (parser.isSet(history))
        return MonitorService::printHistory(parser.isSet(json));

    const auto run = [&]() -> int {
        SettingsStore store(QString::fromUtf8(BuildIdentity::ProductName));
        if (const QString why = unreadable(store.fileName()); !why.isEmpty()) {
            qCCritical(lcService).noquote()
                << "Cannot read the settings file" << store.fileName() << "-" << why;
            return 1;
        }
        // What the command on change leaves when its launcher is killed comes here to be ended, not to init.
        if (!parser.isSet(print) && !parser.isSet(testNotify))
            Orphans::adopt();
        AddressMonitor monitor(store);
        if (parser.isSet(metrics))
            monitor.setMetricsFile(QFileInfo(parser.value(metrics)).absoluteFilePath());
        MonitorService service(store, monitor);
        if (parser.isSet(testNotify))
            service.startTestNotify(parser.value(testNotify));
        else if (parser.isSet(print))
            service.startPrint(parser.isSet(json));
        else if (parser.isSet(once))
            service.startOnce();
        else if (!service.startService(minutes))
            return 1;
        return QCoreApplication::exec();
    };
    const int code = run();
    // All of the program's own has ended, its saves on the disk. A name query given up is still in Qt's
    // resolver thread, which Qt's teardown would wait for until the resolver itself gives up (seconds).
    if (DnsQuery::anyLeftRunning()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

#include "AddressHistory.h"
#include "AddressMonitor.h"
#include "ChannelConfig.h"
#include "ExpectedNotification.h"
#include "FileSnapshot.h"
#include "FreePort.h"
#include "LookupCycle.h"
#include "MailSender.h"
#include "MonitorRun.h"
#include "NginxServer.h"
#include "ProcessStop.h"
#include "RealSmtpServer.h"
#include "ScriptedHttpServer.h"
#include "ScriptedSmtpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>

namespace {
QString snippet()
{
    return QStringLiteral(NETQUILL_SOURCE_DIR "/deploy/netquill-external-ip.conf");
}

/// A change from the address stored before, mailed when it is seen.
// Addresses stored before, so that the next lookup (127.0.0.1 from the page) is a change.
void storeChange(SettingsStore &store)
{
    store.SaveSetting(SettingKeys::OldExternal, QStringLiteral("198.51.100.1"));
    store.SaveSetting(SettingKeys::OldInternal, Winsock::LocalIP());
}

void storeChangeToMail(quint16 smtpPort)
{
    SettingsStore store(QStringLiteral("Netquill"));
    storeChange(store);
    store.SaveSetting(SettingKeys::EmailNotify, QStringLiteral("1"));
    store.SaveSetting(SettingKeys::Server, QStringLiteral("127.0.0.1"));
    store.SaveSetting(SettingKeys::Port, QString::number(smtpPort));
    store.SaveSetting(SettingKeys::EmailTo, QStringLiteral("owner@example.com"));
    store.SaveSetting(SettingKeys::EmailFrom, QStringLiteral("netquill@example.com"));
}

ChannelConfig channel(const QString &name, ChannelConfig::Kind kind, const QUrl &url)
{
    ChannelConfig channel;
    channel.name = name;
    channel.kind = kind;
    channel.url = url;
    return channel;
}

void writeFile(const QString &fileName, const QByteArray &text, int mode)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    QVERIFY(file.setPermissions(
        QFile::Permissions::fromInt(((mode & 0700) << 6) | ((mode & 070) << 1) | (mode & 07))));
}

QString tlsFolder()
{
    return QStringLiteral(NETQUILL_SOURCE_DIR "/tests/notify/tls/");
}

/// STARTTLS with the test authority's certificate, and one user: alice, password s3cret.
RealSmtpServer::Options loginServer()
{
    RealSmtpServer::Options options;
    options.tls = RealSmtpServer::Options::Tls::StartTls;
    options.certificate = tlsFolder() + QStringLiteral("server.pem");
    options.key = tlsFolder() + QStringLiteral("server.key");
    options.users = {{QStringLiteral("alice"), QStringLiteral("s3cret")}};
    return options;
}

/// The login as alice; the password in the credentials folder and the password file, where given.
void storeLogin(const QString &configHome, const QString &credentialsFolder, const QByteArray &credential,
                const QByteArray &file, int mode)
{
    SettingsStore store(QStringLiteral("Netquill"));
    store.SaveSetting(SettingKeys::Security, QStringLiteral("STARTTLS"));
    store.SaveSetting(SettingKeys::User, QStringLiteral("alice"));
    if (!file.isEmpty()) {
        store.SaveSetting(SettingKeys::PasswordFile, QStringLiteral("mail-password"));
        writeFile(configHome + QStringLiteral("/Netquill/mail-password"), file, mode);
    }
    if (!credential.isEmpty())
        writeFile(credentialsFolder + QStringLiteral("/mail-password"), credential, 0400);
}

QByteArray expectedMessage()
{
    return expectedNotification("netquill@example.com", "owner@example.com", "127.0.0.1",
                                Winsock::LocalIP().toLatin1()) +
           "\r\n";
}
} // namespace

/// netquill-monitor running as a service, with what it logs; stopped when this goes.
struct ServiceRun {
    QByteArray log;
    QProcess process;

    explicit ServiceRun(const QProcessEnvironment &environment)
    {
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { log += process.readAllStandardError(); });
        process.setProcessEnvironment(environment);
        process.start(monitorProgram(), {});
    }
    ~ServiceRun() { stopProcess(process); }
};

/// netquill-monitor started as a process against a real nginx page and a real SMTP server.
class ServiceTest : public QObject {
    Q_OBJECT
private slots:
    void changeIsMailedOnceAndSigtermLosesNothing()
    {
        NETQUILL_REQUIRE(NginxServer::missing());
        NETQUILL_REQUIRE(RealSmtpServer::missing());
        TempSettings temp;
        NginxServer nginx;
        QVERIFY2(nginx.start(snippet()), qPrintable(nginx.error()));
        RealSmtpServer smtp;
        QString error;
        QVERIFY2(smtp.start(&error), qPrintable(error));
        storeChangeToMail(smtp.port());

        // The desktop program's model, with the same settings, sees the same change a moment later.
        qputenv("NETQUILL_IP_HOST", nginx.hostPort().toLatin1());
        const auto restore = qScopeGuard([] { qunsetenv("NETQUILL_IP_HOST"); });
        SettingsStore store(QStringLiteral("Netquill"));
        AddressMonitor desktop(store);
        desktop.Load();
        const auto changeLines = [] {
            const QList<AddressHistory::Event> events = AddressHistory::read();
            return std::count_if(events.cbegin(), events.cend(), [](const AddressHistory::Event &event) {
                return event.kind == AddressHistory::Kind::External &&
                       event.oldValue == QLatin1String("198.51.100.1");
            });
        };
        const auto linesBefore = changeLines();

        ServiceRun run(monitorEnvironment(temp.path(), nginx.hostPort()));
        QProcess &service = run.process;
        QByteArray &log = run.log;
        QVERIFY(service.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("netquill.service: Finished looking up IPs\n"), 20000);

        // The service holds the notifier lock, so the desktop leaves this change to it.
        QSignalSpy completed(&desktop, &AddressMonitor::lookupFinished);
        desktop.Refresh();
        QVERIFY(completed.wait(15000));
        QVERIFY(completed.first().at(0).value<LookupResult>().changed);
        QCOMPARE(desktop.mailBusy(), false);
        QCOMPARE(changeLines(), linesBefore + 1); // the service's line only

        // SIGTERM right after the lookup, the mail perhaps still on its way: a clean end, nothing lost.
        service.terminate();
        QVERIFY(service.waitForFinished(15000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        log += service.readAllStandardError();
        for (const char *line : {"netquill.service: Looking up your IPs...\n",
                                 "netquill.service: Connecting...\n", "netquill.service: Message Sent\n"})
            QVERIFY2(log.contains(line), log.constData());
        QVERIFY2(!log.contains("\x1b"), log.constData());
        QTest::qWait(500);
        QCOMPARE(smtp.messageCount(), 1);
        QCOMPARE(smtp.message(1).data, expectedMessage());
        SettingsStore after(QStringLiteral("Netquill"));
        QCOMPARE(after.GetSetting(SettingKeys::OldExternal), QStringLiteral("127.0.0.1"));
        QCOMPARE(after.GetSetting(SettingKeys::NotifyPending), QStringLiteral("0"));
        QVERIFY(!QFile::exists(temp.path() + QStringLiteral("/Netquill/notifier.lock")));
    }

    void sigtermWaitsForTheMail()
    {
        NETQUILL_REQUIRE(NginxServer::missing());
        TempSettings temp;
        NginxServer nginx;
        QVERIFY2(nginx.start(snippet()), qPrintable(nginx.error()));
        ScriptedSmtpServer smtp;
        smtp.setReply(ScriptedSmtpServer::EndOfData, {}); // the message is accepted when the test says so
        storeChangeToMail(smtp.port());

        ServiceRun run(monitorEnvironment(temp.path(), nginx.hostPort()));
        QProcess &service = run.process;
        QByteArray &log = run.log;
        QTRY_VERIFY_WITH_TIMEOUT(!smtp.messageData().isEmpty(), 20000);
        service.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("netquill.service: Ending on signal 15\n"), 5000);
        smtp.send("250 2.0.0 Ok: queued\r\n");
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        log += service.readAllStandardError();
        QVERIFY2(log.endsWith("netquill.service: Message Sent\n"), log.constData());
        SettingsStore after(QStringLiteral("Netquill"));
        QCOMPARE(after.GetSetting(SettingKeys::NotifyPending), QStringLiteral("0"));
    }

    void singleRuns_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("pageUp"); // false: nothing listens at the page's port
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // %1 stands for this machine's address
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("stored"); // the addresses found replaced those stored before
        // "oversized": a settings file too big to read whole, and so to rewrite; "refused": mail
        // settings the send operation refuses before it connects; "channels": a webhook and a health
        // ping on a local peer; "channel down": the webhook's peer refuses.
        QTest::addColumn<QByteArray>("spoil");

        QTest::newRow("--once") << QStringList{"--once"} << true << 0 << QString()
                                << QByteArray("Message Sent") << 1 << true << QByteArray();
        QTest::newRow("--print") << QStringList{"--print"} << true << 0
                                 << QStringLiteral("Internal: %1\nExternal: 127.0.0.1\n") << QByteArray() << 0
                                 << false << QByteArray();
        QTest::newRow("--print --json")
            << QStringList{"--print", "--json"} << true << 0 << QStringLiteral("json") << QByteArray() << 0
            << false << QByteArray();
        const QByteArray failed = "Error: Connection not available.\n";
        QTest::newRow("--once, page down")
            << QStringList{"--once"} << false << 1 << QString() << failed << 0 << false << QByteArray();
        QTest::newRow("--print, page down")
            << QStringList{"--print"} << false << 1 << QString() << failed << 0 << false << QByteArray();
        // The addresses found could not be stored: the next run would report the change again.
        QTest::newRow("--once, settings not saved")
            << QStringList{"--once"} << true << 1 << QString() << QByteArray("Error: Settings not saved: ")
            << 0 << false << QByteArray("oversized");
        // The change is stored and kept marked unsent; the run says it failed.
        QTest::newRow("--once, notice refused") << QStringList{"--once"} << true << 1 << QString()
                                                << QByteArray("Error: Please choose the connection security")
                                                << 0 << true << QByteArray("refused");
        QTest::newRow("--once, channels")
            << QStringList{"--once"} << true << 0 << QString() << QByteArray("Message Sent") << 1 << true
            << QByteArray("channels");
        // The mail went; the channel that failed fails the run and leaves a history line.
        QTest::newRow("--once, channel down")
            << QStringList{"--once"} << true << 1 << QString() << QByteArray("not delivered: HTTP status 500")
            << 1 << true << QByteArray("channel down");
        QTest::newRow("--print --json, channels")
            << QStringList{"--print", "--json"} << true << 0 << QStringLiteral("json") << QByteArray() << 0
            << false << QByteArray("channels");
        QTest::newRow("--test-notify")
            << QStringList{"--test-notify", "hook"} << true << 0 << QString()
            << QByteArray("Test notice delivered through hook") << 0 << false << QByteArray("channels");
    }

    void singleRuns()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, pageUp);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QByteArray, err);
        QFETCH(int, messages);
        QFETCH(bool, stored);
        QFETCH(QByteArray, spoil);
        NETQUILL_REQUIRE(NginxServer::missing());
        NETQUILL_REQUIRE(RealSmtpServer::missing());
        TempSettings temp;
        NginxServer nginx;
        if (pageUp)
            QVERIFY2(nginx.start(snippet()), qPrintable(nginx.error()));
        const QString host = pageUp ? nginx.hostPort() : QStringLiteral("127.0.0.1:%1").arg(FreePort::pick());
        RealSmtpServer smtp;
        QString error;
        QVERIFY2(smtp.start(&error), qPrintable(error));
        storeChangeToMail(smtp.port());
        if (spoil == "refused")
            SettingsStore(QStringLiteral("Netquill"))
                .SaveSetting(SettingKeys::Security, QStringLiteral("Bogus"));
        if (spoil == "oversized") {
            QFile file(temp.path() + QStringLiteral("/Netquill/Netquill.conf"));
            QVERIFY(file.open(QIODevice::Append));
            const QByteArray comment = QByteArray(1023, '#') + '\n';
            for (int i = 0; i < 17 * 1024; ++i)
                file.write(comment);
        }
        ScriptedHttpServer peer;
        if (spoil.startsWith("channel")) {
            peer.setResponse("/hook", spoil == "channel down" ? ScriptedHttpServer::Response::status(500)
                                                              : ScriptedHttpServer::Response::ok("{}"));
            peer.setResponse("/ping", ScriptedHttpServer::Response::ok("OK"));
            const QList<ChannelConfig> channels{
                channel("hook", ChannelConfig::Kind::Webhook, peer.url("/hook")),
                channel("beat", ChannelConfig::Kind::HealthPing, peer.url("/ping"))};
            SettingsStore(QStringLiteral("Netquill"))
                .SaveSetting(SettingKeys::NoticeChannels, ChannelList::format(channels));
        }
        // Each run's own: the rows share the state folder.
        const QString resultsFile =
            QFileInfo(AddressHistory::defaultPath()).path() + QStringLiteral("/channels.json");
        QFile::remove(resultsFile);
        const auto before = FileSnapshot::snapshot(temp.path());
        const qsizetype eventsBefore = AddressHistory::read().size();

        const MonitorRun run = runMonitor(arguments, monitorEnvironment(temp.path(), host));
        QCOMPARE(run.exitCode, exitCode);
        if (out == QLatin1String("json")) {
            const QJsonObject object = QJsonDocument::fromJson(run.out).object();
            QCOMPARE(object.value(QLatin1String("internal")).toString(), Winsock::LocalIP());
            QCOMPARE(object.value(QLatin1String("external")).toString(), QStringLiteral("127.0.0.1"));
            QCOMPARE(object.value(QLatin1String("source")).toString(),
                     QStringLiteral("Netquill page at ") + host);
            // One source: nothing to confirm the address with.
            QCOMPARE(object.value(QLatin1String("confirmed")).toBool(true), false);
            QVERIFY(object.value(QLatin1String("confirmedBy")).toArray().isEmpty());
            QVERIFY(run.out.endsWith("}\n"));
            const QJsonArray channels = object.value(QLatin1String("channels")).toArray();
            QCOMPARE(channels.size(), spoil == "channels" ? 2 : 0);
        } else {
            QCOMPARE(QString::fromUtf8(run.out), out.isEmpty() ? out : out.arg(Winsock::LocalIP()));
        }
        QVERIFY2(run.err.contains(err), run.err.constData());

        QTest::qWait(messages ? 0 : 500);
        QCOMPARE(smtp.messageCount(), messages);
        if (spoil.startsWith("channel")) {
            // A look-only run sends nothing; a test goes to the one channel named.
            const bool once = arguments.first() == QLatin1String("--once");
            const auto hooks = peer.requestsFor("/hook");
            QCOMPARE(hooks.size(), arguments.first() == QLatin1String("--print") ? 0 : 1);
            QCOMPARE(peer.requestsFor("/ping").size(), once ? 1 : 0);
            if (!hooks.isEmpty()) {
                const QByteArray raw = hooks.first().raw;
                const QJsonObject sent =
                    QJsonDocument::fromJson(raw.mid(raw.indexOf("\r\n\r\n") + 4)).object();
                QCOMPARE(sent.value(QLatin1String("event")).toString(), once ? "changed" : "test");
                QCOMPARE(
                    sent.value(QLatin1String("external")).toObject().value(QLatin1String("old")).toString(),
                    once ? "198.51.100.1" : "");
            }
            // The result of the run's notice is on the disk by the time the run has exited.
            const auto kept = NoticeChannels::readResults(resultsFile);
            QCOMPARE(kept.contains(QStringLiteral("hook")), !hooks.isEmpty());
            QCOMPARE(kept.value(QStringLiteral("hook")).delivered, !hooks.isEmpty() && spoil == "channels");
            const QList<AddressHistory::Event> events = AddressHistory::read().mid(eventsBefore);
            QCOMPARE(
                std::any_of(events.cbegin(), events.cend(),
                            [](const auto &event) { return event.kind == AddressHistory::Kind::Unsent; }),
                spoil == "channel down");
        }
        if (messages)
            QCOMPARE(smtp.message(1).data, expectedMessage());
        if (!stored) {
            QCOMPARE(FileSnapshot::snapshot(temp.path()), before);
            return;
        }
        SettingsStore after(QStringLiteral("Netquill"));
        QCOMPARE(after.GetSetting(SettingKeys::OldExternal), QStringLiteral("127.0.0.1"));
        QCOMPARE(after.GetSetting(SettingKeys::NotifyPending),
                 messages ? QStringLiteral("0") : QStringLiteral("1"));
    }

    // The desktop program edits the settings while the service runs: the service follows the file.
    void serviceFollowsTheSettingsFile()
    {
        NETQUILL_REQUIRE(NginxServer::missing());
        TempSettings temp;
        NginxServer nginx;
        QVERIFY2(nginx.start(snippet()), qPrintable(nginx.error()));
        ServiceRun run(monitorEnvironment(temp.path(), nginx.hostPort()));
        QProcess &service = run.process;
        QByteArray &log = run.log;
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("netquill.service: Finished looking up IPs\n"), 20000);

        // Twice: each save puts a new file in place of the one first watched.
        for (const char *to : {"first@example.com", "second@example.com"}) {
            SettingsStore(QStringLiteral("Netquill"))
                .SaveSetting(SettingKeys::EmailTo, QString::fromLatin1(to));
            const QByteArray line = QByteArray("Setting strEmailTo is now \"") + to + '"';
            QTRY_VERIFY2_WITH_TIMEOUT(log.contains(line), log.constData(), 10000);
        }
        QVERIFY2(!log.contains("OldExternal"), log.constData());
        SettingsStore(QStringLiteral("Netquill"))
            .SaveSetting(SettingKeys::NoticeChannels,
                         ChannelList::format(
                             {channel("hook", ChannelConfig::Kind::Webhook, QUrl("https://x.test/s3cret"))}));
        QTRY_VERIFY2_WITH_TIMEOUT(log.contains("Notice channels are now: hook (webhook)\n"), log.constData(),
                                  10000);
        QVERIFY2(!log.contains("s3cret"), log.constData());
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_VERIFY2_WITH_TIMEOUT(log.contains("Reading the settings again on SIGHUP"), log.constData(),
                                  5000);
        QTest::qWait(200);
        QCOMPARE(service.state(), QProcess::Running);
    }

    // --once ends only after the command its change started; --history then lists the change. A second
    // source of another host that gives another address leaves everything as it was but the history. A
    // source asked first that wants a pause gets it from the next run too.
    void onceWaitsForTheCommandAndHistoryListsTheChange_data()
    {
        QTest::addColumn<QByteArray>("second");  // what a second source answers; empty: none
        QTest::addColumn<QString>("metricsKey"); // the metrics file the settings name; empty: the option's
        QTest::newRow("one source") << QByteArray() << QString();
        QTest::newRow("a second source agrees") << QByteArray("203.0.113.5\n") << "netquill.prom";
        QTest::newRow("a second source disagrees") << QByteArray("203.0.113.9") << QString();
        QTest::newRow("a source asked first wants a pause") << QByteArray("429") << QString();
        QTest::newRow("a metrics file no exporter reads") << QByteArray() << "out.txt";
    }
    void onceWaitsForTheCommandAndHistoryListsTheChange()
    {
        QFETCH(QByteArray, second);
        QFETCH(QString, metricsKey);
        const bool disagree = second == "203.0.113.9";
        const bool pause = second == "429";
        NETQUILL_REQUIRE(NginxServer::missing());
        TempSettings temp;
        // An address another source can confirm: from any but Netquill's page, a loopback one is refused.
        const QString page = temp.path() + QStringLiteral("/page.conf");
        writeFile(page, "location = /extras/GetExternalIP.asp { return 200 203.0.113.5; }\n", 0600);
        NginxServer nginx;
        QVERIFY2(nginx.start(page), qPrintable(nginx.error()));
        ScriptedHttpServer other;
        QVERIFY(other.listenOn(QHostAddress(QStringLiteral("127.0.0.2"))));
        other.setResponse("/ip", pause
                                     ? ScriptedHttpServer::Response::status(429).header("Retry-After", "3600")
                                     : ScriptedHttpServer::Response::ok(second, "text/plain"));
        const QString script = temp.path() + QStringLiteral("/update.sh");
        const QString done = temp.path() + QStringLiteral("/updated");
        writeFile(script, "#!/bin/sh\nsleep 1\nprintf %s \"$NETQUILL_EXTERNAL\" > \"$1\"\n", 0700);
        {
            SettingsStore store(QStringLiteral("Netquill"));
            storeChange(store);
            store.SaveSetting(SettingKeys::ChangeCommand, script + QLatin1Char(' ') + done);
            if (!second.isEmpty())
                store.SaveSetting(SettingKeys::IpSources, pause ? other.url("/ip").toString() + " default"
                                                                : "default " + other.url("/ip").toString());
            store.SaveSetting(SettingKeys::MetricsFile, metricsKey);
        }
        QProcessEnvironment env = monitorEnvironment(temp.path(), nginx.hostPort());
        env.insert(QStringLiteral("XDG_STATE_HOME"),
                   temp.path() + QStringLiteral("/state")); // a history of its own
        // The figures for node_exporter count what happened; a name from the settings is in their folder.
        const QString metrics =
            temp.path() + (metricsKey.isEmpty() ? "/netquill.prom" : "/Netquill/" + metricsKey);
        const MonitorRun once = runMonitor(
            metricsKey.isEmpty() ? QStringList{"--once", "--metrics-file", metrics} : QStringList{"--once"},
            env);
        const auto figures = [&metrics] {
            QFile file(metrics);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        if (metricsKey == QLatin1String("out.txt")) {
            QVERIFY(!QFile::exists(metrics));
            QVERIFY2(once.err.contains("metricsFile takes a file name ending in .prom"),
                     once.err.constData());
        } else {
            QVERIFY(figures().contains(disagree ? "netquill_lookups_total{result=\"disagreement\"} 1\n"
                                                : "netquill_lookups_total{result=\"ok\"} 1\n"));
            QVERIFY(figures().contains(disagree ? "netquill_address_changes_total 0\n"
                                                : "netquill_address_changes_total 1\n"));
            QVERIFY(figures().contains(disagree ? "netquill_commands_total{result=\"ok\"} 0\n"
                                                : "netquill_commands_total{result=\"ok\"} 1\n"));
        }
        if (disagree) {
            QVERIFY2(once.exitCode == 1, once.err.constData());
            QVERIFY2(once.err.contains("Error: Sources disagree: 203.0.113.5 (Netquill page at "),
                     once.err.constData());
            QVERIFY(!QFile::exists(done));
            QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::OldExternal),
                     QStringLiteral("198.51.100.1"));
            const MonitorRun json = runMonitor({QStringLiteral("--history"), QStringLiteral("--json")}, env);
            const QJsonArray events = QJsonDocument::fromJson(json.out).array();
            QCOMPARE(events.size(), 1);
            QCOMPARE(events.at(0)[QLatin1String("event")].toString(), QStringLiteral("disagree"));
            QVERIFY(events.at(0)[QLatin1String("new")].toString().contains(
                QLatin1String("203.0.113.9 (http://127.0.0.2:")));
            return;
        }
        QCOMPARE(once.exitCode, 0);
        QVERIFY2(once.err.contains("The command on change finished"), once.err.constData());
        QFile updated(done);
        QVERIFY(updated.open(QIODevice::ReadOnly));
        QCOMPARE(updated.readAll(), QByteArray("203.0.113.5"));
        if (pause) {
            QCOMPARE(runMonitor({QStringLiteral("--once")}, env).exitCode, 0);
            QCOMPARE(other.requests().size(), 1);
        }

        const MonitorRun text = runMonitor({QStringLiteral("--history")}, env);
        QCOMPARE(text.exitCode, 0);
        QVERIFY2(text.out.contains("198.51.100.1") && text.out.contains("203.0.113.5"), text.out.constData());
        const MonitorRun json = runMonitor({QStringLiteral("--history"), QStringLiteral("--json")}, env);
        QCOMPARE(json.exitCode, 0);
        const QJsonArray events = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.at(0)[QLatin1String("event")].toString(), QStringLiteral("external"));
        QCOMPARE(events.at(0)[QLatin1String("new")].toString(), QStringLiteral("203.0.113.5"));
    }

    void passwordFileOthersMayReadIsRefused()
    {
        NETQUILL_REQUIRE(NginxServer::missing());
        NETQUILL_REQUIRE(RealSmtpServer::missing());
        TempSettings temp;
        NginxServer nginx;
        QVERIFY2(nginx.start(snippet()), qPrintable(nginx.error()));
        RealSmtpServer smtp(loginServer());
        QString error;
        QVERIFY2(smtp.start(&error), qPrintable(error));
        storeChangeToMail(smtp.port());
        storeLogin(temp.path(), QString(), QByteArray(), "s3cret\n", 0644);

        const MonitorRun run =
            runMonitor({QStringLiteral("--once")}, monitorEnvironment(temp.path(), nginx.hostPort()));
        QVERIFY2(run.err.contains("netquill.service: Error: The mail password file may be read by others"),
                 run.err.constData());
        QVERIFY2(!run.err.contains("Connecting..."), run.err.constData());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(smtp.messageCount(), 0);
        // A notice not sent is sent after the next lookup.
        SettingsStore after(QStringLiteral("Netquill"));
        QCOMPARE(after.GetSetting(SettingKeys::NotifyPending), QStringLiteral("1"));
    }

    /// The model as the service runs it, in this process: here the test authority can be trusted, as
    /// a separate program trusts only the system's.
    void serverPasswordLogsIn_data()
    {
        QTest::addColumn<QByteArray>("credential");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("status");
        const QString sent = QStringLiteral("Message Sent");
        QTest::newRow("owner-only password file") << QByteArray() << QByteArray("s3cret\n") << sent;
        QTest::newRow("systemd credential first") << QByteArray("s3cret") << QByteArray("wrong\n") << sent;
        // Neither: the keyring, which without a session bus gives nothing, at once; the server says no.
        QTest::newRow("keyring without a session bus")
            << QByteArray() << QByteArray()
            << QStringLiteral("Error: 535 5.7.8 Authentication credentials invalid\r\n");
    }

    void serverPasswordLogsIn()
    {
        QFETCH(QByteArray, credential);
        QFETCH(QByteArray, file);
        QFETCH(QString, status);
        NETQUILL_REQUIRE(RealSmtpServer::missing());
        TempSettings temp;
        RealSmtpServer smtp(loginServer());
        QString error;
        QVERIFY2(smtp.start(&error), qPrintable(error));
        storeChangeToMail(smtp.port());
        QTemporaryDir credentials;
        storeLogin(temp.path(), credentials.path(), credential, file, 0600);
        const QByteArray oldCredentials = qgetenv("CREDENTIALS_DIRECTORY");
        const QByteArray oldBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const QSslConfiguration oldConfig = QSslConfiguration::defaultConfiguration();
        const auto restore = qScopeGuard([&] {
            qputenv("CREDENTIALS_DIRECTORY", oldCredentials);
            qputenv("DBUS_SESSION_BUS_ADDRESS", oldBus);
            QSslConfiguration::setDefaultConfiguration(oldConfig);
        });
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        qputenv("CREDENTIALS_DIRECTORY",
                credential.isEmpty() ? QByteArray() : credentials.path().toLocal8Bit());
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(QSslCertificate::fromPath(tlsFolder() + QStringLiteral("ca.pem")));
        QSslConfiguration::setDefaultConfiguration(config);

        SettingsStore store(QStringLiteral("Netquill"));
        AddressMonitor monitor(store);
        monitor.useServerPassword(true);
        monitor.Load();
        QStringList statuses;
        connect(&monitor, &AddressMonitor::statusChanged,
                [&](const QString &text) { statuses.append(text); });
        monitor.SendMail();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.mailBusy(), 15000);
        QCOMPARE(statuses.last(), status);
        if (status != QLatin1String("Message Sent"))
            return;
        QVERIFY(smtp.waitForMessages(1));
        QCOMPARE(smtp.message(1).login, QStringLiteral("alice"));
        // Neither password goes to the settings file.
        QVERIFY(!FileSnapshot::readFile(store.fileName()).contains(QLatin1String("s3cret")));
    }
};

NETQUILL_TEST(ServiceTest)
#include "ServiceTest.moc"

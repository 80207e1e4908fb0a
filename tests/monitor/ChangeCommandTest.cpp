#include "ChangeCommand.h"
#include "AddressMonitor.h"
#include "LookupCycle.h"
#include "ScriptedHttpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace std::chrono_literals;

namespace {
const ChangeCommand::Inputs Addresses{{QStringLiteral("192.168.1.20"), QStringLiteral("203.0.113.7")},
                                      {QStringLiteral("192.168.1.9"), QStringLiteral("198.51.100.1")},
                                      QStringLiteral("Netquill")};

/// Shell scripts as the commands under test, in a folder of their own.
struct Scripts {
    QTemporaryDir dir;

    QString path(const QString &name) const { return dir.filePath(name); }
    /// Writes an executable script and returns a command line that runs it.
    QString command(const QByteArray &body, const QString &name = QStringLiteral("command.sh")) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\ncd \"" + dir.path().toLocal8Bit() + "\"\n" + body + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return QLatin1Char('"') + file.fileName() + QLatin1Char('"');
    }
    QStringList lines(const QString &name) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

/// Runs one command to its end; the status it reported last, or why there is none.
QString runToEnd(ChangeCommand &command, const QString &commandLine, const ChangeCommand::Inputs &inputs)
{
    QSignalSpy status(&command, &ChangeCommand::statusChanged);
    if (!command.Run(commandLine, inputs))
        return QStringLiteral("(not run)");
    if (!QTest::qWaitFor([&command] { return !command.busy(); }, 10000) || status.isEmpty())
        return QStringLiteral("(no end)");
    return status.last().first().toString();
}

/// Gone, or a zombie nobody reaps inside a container.
bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

/// The running processes that have this exact argument (a zombie has none left to read).
QList<qint64> processesWithArgument(const QByteArray &argument)
{
    QList<qint64> found;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        bool number = false;
        const qint64 pid = it.nextFileInfo().fileName().toLongLong(&number);
        QFile cmdline(it.filePath() + QStringLiteral("/cmdline"));
        if (number && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(argument))
            found.append(pid);
    }
    return found;
}
} // namespace

class ChangeCommandTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(Orphans::adopt()); }

    void environment_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("oldExternal");
        QTest::addColumn<QString>("passedOld");
        QTest::newRow("IPv4") << "203.0.113.7"
                              << "198.51.100.1"
                              << "198.51.100.1";
        QTest::newRow("IPv6") << "2001:db8::7"
                              << "2001:db8::1"
                              << "2001:db8::1";
        QTest::newRow("old markup passed empty") << "203.0.113.7"
                                                 << "<b>198.51.100.1</b>"
                                                 << "";
        QTest::newRow("none recorded yet") << "203.0.113.7"
                                           << "0"
                                           << "";
    }
    void environment()
    {
        QFETCH(QString, current);
        QFETCH(QString, oldExternal);
        QFETCH(QString, passedOld);
        Scripts scripts;
        qputenv("NETQUILL_TEST_INHERITED", "yes");
        ChangeCommand command;
        ChangeCommand::Inputs inputs = Addresses;
        inputs.current.external = current;
        inputs.old.external = oldExternal;
        QCOMPARE(runToEnd(command, scripts.command("env > env.txt"), inputs), ChangeCommand::StatusFinished);
        const QStringList env = scripts.lines(QStringLiteral("env.txt"));
        const QStringList expected = {QStringLiteral("NETQUILL_INTERNAL=192.168.1.20"),
                                      QStringLiteral("NETQUILL_EXTERNAL=") + current,
                                      QStringLiteral("NETQUILL_OLD_INTERNAL=192.168.1.9"),
                                      QStringLiteral("NETQUILL_OLD_EXTERNAL=") + passedOld,
                                      QStringLiteral("NETQUILL_SOURCE=Netquill"),
                                      QStringLiteral("NETQUILL_TEST_INHERITED=yes")};
        for (const QString &line : expected)
            QVERIFY2(env.contains(line),
                     qPrintable(line + QStringLiteral(" missing from ") + env.join(u' ')));
    }

    void argumentsArriveExactly_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("plain") << "one two" << QStringList{"one", "two"};
        QTest::newRow("spaces in quotes")
            << R"("two words" "  padded  ")" << QStringList{"two words", "  padded  "};
        QTest::newRow("quotes inside") << R"("say """hi""" now")" << QStringList{R"(say "hi" now)"};
        QTest::newRow("no shell") << R"($HOME;ls `id` >out *)"
                                  << QStringList{"$HOME;ls", "`id`", ">out", "*"};
    }
    void argumentsArriveExactly()
    {
        QFETCH(QString, arguments);
        QFETCH(QStringList, expected);
        Scripts scripts;
        ChangeCommand command;
        const QString script = scripts.command(R"(printf '%s\n' "$@" > args.txt)");
        QCOMPARE(runToEnd(command, script + QLatin1Char(' ') + arguments, Addresses),
                 ChangeCommand::StatusFinished);
        QCOMPARE(scripts.lines(QStringLiteral("args.txt")), expected);
        QVERIFY(!QFile::exists(scripts.path(QStringLiteral("out"))));
    }

    void outcome_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: a program that does not exist
        QTest::addColumn<QString>("status");    // a pattern
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("success, both outputs")
            << QByteArray("echo out; echo err >&2") << "^Command finished$" << QByteArray("out\nerr\n");
        QTest::newRow("failure") << QByteArray("echo failing; exit 3")
                                 << "^Error: the command exited with status 3$" << QByteArray("failing\n");
        QTest::newRow("hangs") << QByteArray("echo waiting; sleep 30")
                               << "^Error: the command was killed after 0.3 s$" << QByteArray("waiting\n");
        // $1 is a sleep time no other process uses, by which the test finds what the command left.
        QTest::newRow("hangs, its grandchild in a session of its own")
            << QByteArray("echo waiting; sh -c 'setsid sleep \"$1\" & wait' sh \"$1\"")
            << "^Error: the command was killed after 0.3 s$" << QByteArray("waiting\n");
        QTest::newRow("success, a job left in the background")
            << QByteArray("sleep \"$1\" & echo started") << "^Command finished$" << QByteArray("started\n");
        QTest::newRow("success, a job left in a session of its own")
            << QByteArray("setsid sleep \"$1\" & echo started") << "^Command finished$"
            << QByteArray("started\n");
        // Its orphans come to the test, which adopts them as the service does.
        QTest::newRow("the launcher killed outright, jobs left in the background")
            << QByteArray("sleep \"$1\" & setsid sleep \"$1\" & (trap '' TERM; sleep \"$1\") & kill -KILL "
                          "$PPID; wait")
            << "^Error: the command crashed$" << QByteArray();
        QTest::newRow("output kept to 4 KiB") << QByteArray("head -c 100000 /dev/zero | tr '\\0' x")
                                              << "^Command finished$" << QByteArray(4096, 'x');
        QTest::newRow("missing program")
            << QByteArray() << "^Error: the command could not be started: .+" << QByteArray();
    }
    void outcome()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, status);
        QFETCH(QByteArray, output);
        Scripts scripts;
        ChangeCommand command;
        command.setTimeLimit(300ms);
        QSignalSpy finished(&command, &ChangeCommand::finished);
        if (!status.startsWith(QLatin1String("^Command")))
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("command on change failed")));
        const QByteArray leftover = "300." + QByteArray::number(QCoreApplication::applicationPid());
        const QString commandLine = script.isEmpty() ? scripts.path(QStringLiteral("missing"))
                                                     : scripts.command(script) + u' ' + leftover;
        const QString reported = runToEnd(command, commandLine, Addresses);
        // Nothing the command started outlives it, whether it ended by itself or was killed.
        const bool nothingLeft =
            QTest::qWaitFor([&] { return processesWithArgument(leftover).isEmpty(); }, 2000);
        for (const qint64 pid : processesWithArgument(leftover))
            ::kill(pid_t(pid), SIGKILL);
        QVERIFY2(nothingLeft, "a process the command started is still running");
        QVERIFY2(QRegularExpression(status).match(reported).hasMatch(), qPrintable(reported));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), status.startsWith(QLatin1String("^Command")));
        QCOMPARE(command.lastOutput(), output);
    }

    void theTimeLimitEndsWhatTheCommandStarted()
    {
        Scripts scripts;
        ChangeCommand command;
        command.setTimeLimit(300ms);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("killed after")));
        QCOMPARE(runToEnd(command, scripts.command("sleep 30 & echo $! > child.txt; wait"), Addresses),
                 QStringLiteral("Error: the command was killed after 0.3 s"));
        const QStringList child = scripts.lines(QStringLiteral("child.txt"));
        QCOMPARE(child.size(), 1);
        QVERIFY(QTest::qWaitFor([&] { return processGone(child.first().toLongLong()); }, 3000));
    }

    void notRun_data()
    {
        QTest::addColumn<QString>("commandLine"); // "script": the test's script
        QTest::addColumn<QString>("external");
        QTest::addColumn<QString>("logged"); // empty: nothing is
        QTest::newRow("markup")
            << "script"
            << "<b>203.0.113.7</b>"
            << "not run: \"the external address is not an IP address: <b>203.0.113.7</b>\"";
        QTest::newRow("trailing line break") << "script"
                                             << "203.0.113.7\n"
                                             << "not an IP address";
        QTest::newRow("before the first lookup")
            << "script" << AddressMonitor::Unknown << "not an IP address";
        QTest::newRow("empty command line") << ""
                                            << "203.0.113.7"
                                            << "";
        QTest::newRow("blank command line") << "  "
                                            << "203.0.113.7"
                                            << "";
    }
    void notRun()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, external);
        QFETCH(QString, logged);
        Scripts scripts;
        const QString script = scripts.command("touch ran.txt");
        if (commandLine == QLatin1String("script"))
            commandLine = script;
        ChangeCommand command;
        if (logged.isEmpty())
            QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        else
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(logged)));
        ChangeCommand::Inputs inputs = Addresses;
        inputs.current.external = external;
        QVERIFY(!command.Run(commandLine, inputs));
        QVERIFY(!command.busy());
        QTest::qWait(200);
        QVERIFY(!QFile::exists(scripts.path(QStringLiteral("ran.txt"))));
    }

    void changesWhileOneRunsRunAfterItWithTheNewest()
    {
        Scripts scripts;
        const QString script = scripts.command(
            "echo \"$NETQUILL_EXTERNAL\" >> runs.txt; while [ ! -e release ]; do sleep 0.02; done");
        ChangeCommand command;
        QSignalSpy finished(&command, &ChangeCommand::finished);
        ChangeCommand::Inputs second = Addresses, third = Addresses;
        second.current.external = QStringLiteral("203.0.113.8");
        third.current.external = QStringLiteral("203.0.113.9");
        QVERIFY(command.Run(script, Addresses));
        QVERIFY(QTest::qWaitFor([&] { return scripts.lines(QStringLiteral("runs.txt")).size() == 1; }, 5000));
        QVERIFY(command.Run(script, second));
        QVERIFY(command.Run(script, third));
        QTest::qWait(100); // the first one keeps running alone
        QCOMPARE(scripts.lines(QStringLiteral("runs.txt")).size(), 1);
        QFile(scripts.path(QStringLiteral("release"))).open(QIODevice::WriteOnly);
        QVERIFY(QTest::qWaitFor([&] { return !command.busy(); }, 5000));
        QCOMPARE(finished.size(), 2);
        QCOMPARE(scripts.lines(QStringLiteral("runs.txt")), (QStringList{"203.0.113.7", "203.0.113.9"}));
    }

    // The monitor runs the stored command after a lookup that changed an address, with the addresses
    // from before it as the old ones; by default it runs nothing.
    void theMonitorRunsTheStoredCommandOnAChange_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: none stored
        QTest::addColumn<QString>("lastStatus");
        QTest::newRow("default") << QByteArray() << LookupCycle::StatusFinished;
        // A command that succeeds does not replace what the lookup and the mail said; a failure shows.
        QTest::newRow("configured") << QByteArray("env > env.txt") << LookupCycle::StatusFinished;
        QTest::newRow("failing") << QByteArray("env > env.txt; exit 3")
                                 << QStringLiteral("Error: the command exited with status 3");
    }
    void theMonitorRunsTheStoredCommandOnAChange()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, lastStatus);
        const bool configured = !script.isEmpty();
        TempSettings temp;
        Scripts scripts;
        ScriptedHttpServer server;
        server.setResponse("/extras/GetExternalIP.asp", ScriptedHttpServer::Response::ok("203.0.113.7"));
        qputenv("NETQUILL_IP_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
        SettingsStore store(QStringLiteral("Netquill"));
        const QString local = Winsock::LocalIP();
        store.SaveSettings({{SettingKeys::OldInternal, local}, {SettingKeys::OldExternal, "198.51.100.1"}});
        if (configured)
            store.SaveSetting(SettingKeys::ChangeCommand, scripts.command(script));
        AddressMonitor monitor(store);
        qunsetenv("NETQUILL_IP_HOST");
        QStringList statuses;
        connect(&monitor, &AddressMonitor::statusChanged,
                [&](const QString &text) { statuses.append(text); });
        QSignalSpy finished(&monitor, &AddressMonitor::commandFinished);
        monitor.Load();
        monitor.Refresh();
        QVERIFY(QTest::qWaitFor([&] { return statuses.contains(LookupCycle::StatusFinished); }, 10000));
        QCOMPARE(monitor.commandBusy(), configured);
        if (!configured) {
            QTest::qWait(200);
            QCOMPARE(finished.size(), 0);
            QVERIFY(QDir(scripts.dir.path()).entryList({QStringLiteral("env.txt")}).isEmpty());
            return;
        }
        QVERIFY(finished.wait(5000));
        QCOMPARE(statuses.last(), lastStatus);
        const QStringList env = scripts.lines(QStringLiteral("env.txt"));
        QVERIFY(env.contains(QStringLiteral("NETQUILL_EXTERNAL=203.0.113.7")));
        QVERIFY(env.contains(QStringLiteral("NETQUILL_OLD_EXTERNAL=198.51.100.1")));
        QVERIFY(env.contains(QStringLiteral("NETQUILL_INTERNAL=") + local));
    }
};

NETQUILL_TEST(ChangeCommandTest)
#include "ChangeCommandTest.moc"

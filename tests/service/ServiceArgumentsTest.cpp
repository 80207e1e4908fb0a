#include "MonitorRun.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTest>

/// What netquill-monitor refuses before it looks anything up.
class ServiceArgumentsTest : public QObject {
    Q_OBJECT
private slots:
    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("error"); // found on standard error
        QTest::addColumn<QString>("home"); // without XDG_CONFIG_HOME: "-" unset, else HOME; null keeps both
        const QByteArray usage = "netquill-monitor: ";
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << 2 << usage + "Unknown option 'bogus'." << QString();
        QTest::newRow("stray argument")
            << QStringList{"now"} << 2 << usage + "Unexpected argument 'now'." << QString();
        QTest::newRow("--json alone")
            << QStringList{"--json"} << 2 << usage + "--json goes with --print or --history." << QString();
        QTest::newRow("--history with --once")
            << QStringList{"--history", "--once"} << 2 << usage + "--history goes alone, or with --json."
            << QString();
        QTest::newRow("--once with --print") << QStringList{"--once", "--print"} << 2
                                             << usage + "--once and --print exclude each other." << QString();
        QTest::newRow("--interval with --once") << QStringList{"--once", "--interval", "5"} << 2
                                                << usage + "--interval is for the service" << QString();
        QTest::newRow("--interval with --history") << QStringList{"--history", "--interval", "5"} << 2
                                                   << usage + "--interval is for the service" << QString();
        QTest::newRow("--history with --print")
            << QStringList{"--history", "--print"} << 2 << usage + "--history goes alone, or with --json."
            << QString();
        QTest::newRow("--interval without minutes")
            << QStringList{"--interval"} << 2 << usage + "Missing value after '--interval'." << QString();
        for (const char *minutes : {"0", "1441", "5.5", "five", ""})
            QTest::addRow("--interval '%s'", minutes)
                << QStringList{"--interval", minutes} << 2 << usage + "--interval takes a whole number"
                << QString();
        QTest::newRow("settings file is a folder")
            << QStringList{"--once"} << 1 << QByteArray("netquill.service: Cannot read the settings file ")
            << QString();
        // Nothing is made outside the user's own folders.
        for (const char *home : {"-", "", "relative", "/nonexistent"})
            QTest::addRow("HOME '%s'", home)
                << QStringList{"--once"} << 1 << QByteArray("netquill.service: No folder for the settings: ")
                << QString::fromLatin1(home);
    }

    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, error);
        QFETCH(QString, home);
        TempSettings temp;
        QVERIFY(QDir(temp.path()).mkpath(QStringLiteral("Netquill/Netquill.conf")));
        const auto before = QDir(temp.path() + QStringLiteral("/Netquill")).entryList(QDir::AllEntries);
        // Nothing answers there: a run that got as far as a lookup would say so.
        QProcessEnvironment env = monitorEnvironment(temp.path(), QStringLiteral("127.0.0.1:9"));
        if (!home.isNull()) {
            env.remove(QStringLiteral("XDG_CONFIG_HOME"));
            if (home == QLatin1String("-"))
                env.remove(QStringLiteral("HOME"));
            else
                env.insert(QStringLiteral("HOME"), home);
        }
        const MonitorRun run = runMonitor(arguments, env);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(error), run.err.constData());
        QVERIFY2(!run.err.contains("Looking up"), run.err.constData());
        QVERIFY(run.out.isEmpty());
        QCOMPARE(QDir(temp.path() + QStringLiteral("/Netquill")).entryList(QDir::AllEntries), before);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/nonexistent")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/.config/Netquill")));
    }
};

NETQUILL_TEST(ServiceArgumentsTest)
#include "ServiceArgumentsTest.moc"

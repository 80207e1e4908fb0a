#include "MonitorRun.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QDir>
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
        const QByteArray usage = "netquill-monitor: ";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << usage + "Unknown option 'bogus'.";
        QTest::newRow("stray argument") << QStringList{"now"} << 2 << usage + "Unexpected argument 'now'.";
        QTest::newRow("--json alone")
            << QStringList{"--json"} << 2 << usage + "--json goes with --print or --history.";
        QTest::newRow("--history with --once")
            << QStringList{"--history", "--once"} << 2 << usage + "--history goes alone, or with --json.";
        QTest::newRow("--once with --print")
            << QStringList{"--once", "--print"} << 2 << usage + "--once and --print exclude each other.";
        QTest::newRow("--interval with --once")
            << QStringList{"--once", "--interval", "5"} << 2 << usage + "--interval is for the service";
        for (const char *minutes : {"0", "1441", "5.5", "five", ""})
            QTest::addRow("--interval '%s'", minutes)
                << QStringList{"--interval", minutes} << 2 << usage + "--interval takes a whole number";
        QTest::newRow("settings file is a folder")
            << QStringList{"--once"} << 1 << QByteArray("netquill.service: Cannot read the settings file ");
    }

    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, error);
        TempSettings temp;
        QVERIFY(QDir(temp.path()).mkpath(QStringLiteral("Netquill/Netquill.conf")));
        const auto before = QDir(temp.path() + QStringLiteral("/Netquill")).entryList(QDir::AllEntries);
        // Nothing answers there: a run that got as far as a lookup would say so.
        const MonitorRun run =
            runMonitor(arguments, monitorEnvironment(temp.path(), QStringLiteral("127.0.0.1:9")));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(error), run.err.constData());
        QVERIFY2(!run.err.contains("Looking up"), run.err.constData());
        QVERIFY(run.out.isEmpty());
        QCOMPARE(QDir(temp.path() + QStringLiteral("/Netquill")).entryList(QDir::AllEntries), before);
    }
};

NETQUILL_TEST(ServiceArgumentsTest)
#include "ServiceArgumentsTest.moc"

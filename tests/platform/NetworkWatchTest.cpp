#include "NetworkWatch.h"
#include "TestMain.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {
// Set in the copy of this test that runs inside its own network namespace.
const char InNamespace[] = "NETQUILL_TEST_IN_NETNS";

/// Runs iproute2's ip with the arguments; an empty text when it succeeded, else what went wrong.
QString ip(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("ip %1: %2 %3")
            .arg(arguments.join(QLatin1Char(' ')), process.errorString(),
                 QString::fromLocal8Bit(process.readAllStandardError()));
    return {};
}
} // namespace

class NetworkWatchTest : public QObject {
    Q_OBJECT
private slots:
    void burstsGiveOneChangeEach_data()
    {
        QTest::addColumn<QList<int>>("gaps"); // milliseconds before each event
        QTest::addColumn<int>("changes");
        // Eight events 60 ms apart outlast the quiet interval: only a restarted wait gives one change.
        QTest::newRow("one event") << QList<int>{0} << 1;
        QTest::newRow("a burst longer than the interval") << QList<int>{0, 60, 60, 60, 60, 60, 60, 60} << 1;
        QTest::newRow("two bursts apart") << QList<int>{0, 60, 60, 1200, 60} << 2;
    }
    void burstsGiveOneChangeEach()
    {
        QFETCH(QList<int>, gaps);
        QFETCH(int, changes);
        NetworkWatch watch;
        watch.setQuietInterval(300);
        QSignalSpy spy(&watch, &NetworkWatch::changed);
        for (int gap : gaps) {
            QTest::qWait(gap);
            watch.noteEvent();
        }
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), changes, 3000);
        QTest::qWait(600);
        QCOMPARE(spy.size(), changes);
    }

    /// A veth pair coming up with an address in a private network namespace gives exactly one change;
    /// the same address renewed with new lifetimes gives none; the address removed gives one more.
    void changeInPrivateNamespace()
    {
        if (qEnvironmentVariableIsSet(InNamespace)) {
            insideNamespace();
            return;
        }
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("true")});
        const bool canUnshare = probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit &&
                                probe.exitCode() == 0;
        NETQUILL_REQUIRE(canUnshare ? QString()
                                    : QStringLiteral("unshare -n (a private network namespace) failed: ") +
                                          probe.errorString() + QLatin1Char(' ') +
                                          QString::fromLocal8Bit(probe.readAllStandardError()).trimmed());

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(InNamespace), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("unshare"),
                    {QStringLiteral("-n"), QCoreApplication::applicationFilePath(),
                     QStringLiteral("NetworkWatchTest"), QStringLiteral("changeInPrivateNamespace")});
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (child.exitCode() == 77)
            NETQUILL_REQUIRE(
                QStringLiteral("inside the namespace: ") +
                output.section(QStringLiteral("SKIP   :"), 1).section(QLatin1Char('\n'), 0, 0).trimmed());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("PASS   : NetworkWatchTest::changeInPrivateNamespace()")),
                 qPrintable(output));
    }

private:
    void insideNamespace()
    {
        NetworkWatch watch;
        watch.setQuietInterval(500);
        QSignalSpy spy(&watch, &NetworkWatch::changed);
        QVERIFY(watch.start());
        QVERIFY(watch.watching());

        // No IPv6 link-local addresses: their duplicate check ends a second later, a burst of its own.
        for (const QStringList &step : {
                 QStringList{"link", "add", "nq0", "type", "veth", "peer", "name", "nq1"},
                 QStringList{"link", "set", "dev", "nq0", "addrgenmode", "none"},
                 QStringList{"link", "set", "dev", "nq1", "addrgenmode", "none"},
                 QStringList{"addr", "add", "10.77.0.1/24", "dev", "nq0"},
                 QStringList{"link", "set", "nq0", "up"},
                 QStringList{"link", "set", "nq1", "up"},
             }) {
            const QString failed = ip(step);
            NETQUILL_REQUIRE(failed);
        }
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 5000);
        QTest::qWait(1500);
        QCOMPARE(spy.size(), 1);

        // What a router's advertisement does to an address every few minutes.
        QCOMPARE(
            ip({"addr", "change", "10.77.0.1/24", "dev", "nq0", "valid_lft", "600", "preferred_lft", "600"}),
            QString());
        QTest::qWait(1500);
        QCOMPARE(spy.size(), 1);

        QCOMPARE(ip({"addr", "del", "10.77.0.1/24", "dev", "nq0"}), QString());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
    }
};
NETQUILL_TEST(NetworkWatchTest)
#include "NetworkWatchTest.moc"

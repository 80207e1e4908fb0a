#include "AddressMonitor.h"
#include "ExternalIpPage.h"
#include "IpSourceList.h"
#include "LookupCycle.h"
#include "NetworkNamespace.h"
#include "NetworkWatch.h"
#include "ScriptedHttpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
using Response = ScriptedHttpServer::Response;

/// A monitor whose product page is a scripted server, over its own empty store.
struct Rig {
    TempSettings temp;
    SettingsStore store{QStringLiteral("Netquill")};
    ScriptedHttpServer server;
    std::unique_ptr<AddressMonitor> monitor;

    explicit Rig(const char *watchNetwork = "1")
    {
        qputenv("NETQUILL_IP_HOST", server.hostAndPort().toLatin1());
        if (watchNetwork)
            store.SaveSetting(SettingKeys::WatchNetwork, QString::fromLatin1(watchNetwork));
        monitor = std::make_unique<AddressMonitor>(store);
        monitor->Load();
    }
    ~Rig() { qunsetenv("NETQUILL_IP_HOST"); }
};
} // namespace

class AddressMonitorWatchTest : public QObject {
    Q_OBJECT
private slots:
    void watchFollowsTheStoredOption_data()
    {
        QTest::addColumn<QString>("stored"); // null: never stored
        QTest::addColumn<bool>("watching");
        QTest::newRow("default") << QString() << false;
        QTest::newRow("off") << QStringLiteral("0") << false;
        QTest::newRow("on") << QStringLiteral("1") << true;
        QTest::newRow("not a state") << QStringLiteral("2") << false;
    }
    void watchFollowsTheStoredOption()
    {
        QFETCH(QString, stored);
        QFETCH(bool, watching);
        const QByteArray value = stored.toLatin1();
        Rig rig(stored.isNull() ? nullptr : value.constData());
        QCOMPARE(rig.monitor->watchNetwork(), watching);
        // Off means no watch at all, so no socket is open.
        QCOMPARE(rig.monitor->networkWatch() != nullptr, watching);
        if (watching)
            QVERIFY(rig.monitor->networkWatch()->watching());
        // Read, never written back.
        QCOMPARE(rig.store.GetSetting(SettingKeys::WatchNetwork),
                 stored.isNull() ? QStringLiteral("0") : stored);
    }

    void setterSavesAndSwitches()
    {
        Rig rig(nullptr);
        rig.monitor->setWatchNetwork(true);
        QVERIFY(rig.monitor->networkWatch());
        AddressMonitor again(rig.store);
        again.Load();
        QVERIFY(again.networkWatch());
        rig.monitor->setWatchNetwork(false);
        QVERIFY(!rig.monitor->networkWatch());
        QCOMPARE(rig.store.GetSetting(SettingKeys::WatchNetwork), QStringLiteral("0"));
    }

    /// A lookup asked for while one runs: network changes, or clock ticks during a chain of sources that
    /// outlasts the interval, give one lookup after it, not a restart (the clock's count runs on). A tick
    /// while Netquill's page alone is asked replaces that fetch.
    void lookupAskedForWhileOneRuns_data()
    {
        QTest::addColumn<bool>("clock"); // false: network changes
        QTest::addColumn<int>("silent"); // sources that never answer, before the one that does
        QTest::newRow("network changes, Netquill's page") << false << 0;
        QTest::newRow("clock ticks, five silent sources first") << true << 5;
        QTest::newRow("clock ticks, Netquill's page") << true << 0;
    }
    void lookupAskedForWhileOneRuns()
    {
        QFETCH(bool, clock);
        QFETCH(int, silent);
        Rig rig;
        Response answer = Response::ok("203.0.113.7", "text/plain");
        QString sources;
        for (int i = 0; i < silent; ++i) {
            rig.server.setResponse("/silent" + QByteArray::number(i), Response::hang());
            sources += rig.server.url(QStringLiteral("/silent%1").arg(i)).toString() + u' ';
        }
        if (silent > 0) {
            rig.server.setResponse("/ip", answer);
            rig.monitor->setSources(
                IpSourceList::read(sources + rig.server.url(QStringLiteral("/ip")).toString()));
            rig.monitor->fetcher()->setTimeout(150);
        } else {
            rig.server.setResponse(ExternalIpPage::Path, answer.delayed(700));
        }
        QSignalSpy completed(rig.monitor.get(), &AddressMonitor::lookupFinished);
        rig.monitor->schedule().applyInterval(0);
        if (clock) {
            // Sped up: a lookup is due every 60 ticks, about every 120 ms.
            rig.monitor->clock()->setInterval(2);
            rig.monitor->clock()->start();
            QTRY_VERIFY_WITH_TIMEOUT(!completed.isEmpty() || rig.server.requests().size() > silent + 2,
                                     10000);
            rig.monitor->clock()->stop();
            // A chain ended before the next lookup began; each tick replaced the page's fetch instead.
            QCOMPARE(completed.isEmpty(), silent == 0);
        } else {
            rig.monitor->schedule().tick();
            rig.monitor->schedule().tick();
            NetworkWatch *watch = rig.monitor->networkWatch();
            QVERIFY(watch);
            emit watch->changed();
            QTRY_COMPARE_WITH_TIMEOUT(rig.server.requests().size(), 1, 5000);
            emit watch->changed();
            emit watch->changed();
        }
        const bool replaced = clock && silent == 0;
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), replaced ? 1 : 2, 10000);
        const qsizetype requests = rig.server.requests().size();
        QTest::qWait(1200);
        QCOMPARE(completed.size(), replaced ? 1 : 2);
        QCOMPARE(rig.server.requests().size(), requests);
        for (const QList<QVariant> &lookup : completed)
            QCOMPARE(lookup.at(0).value<LookupResult>().current.external, QStringLiteral("203.0.113.7"));
        if (!clock) {
            QCOMPARE(rig.server.requests().size(), 2);
            QCOMPARE(rig.monitor->schedule().ticks(), 2);
        }
    }

    /// A lookup that fails soon after a network change is tried again a few times, then left to the clock.
    void failureAfterAChangeIsTriedAgain_data()
    {
        QTest::addColumn<bool>("changed"); // false: the lookup was an ordinary Refresh
        QTest::addColumn<int>("failures"); // before the page answers
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("thenFails"); // a Refresh after the last request fails
        QTest::newRow("answers at the second try") << true << 1 << 2 << false;
        QTest::newRow("answers at the last try") << true << 3 << 4 << false;
        QTest::newRow("three retries at most") << true << 10 << 4 << false;
        QTest::newRow("no change, no retry") << false << 10 << 1 << false;
        QTest::newRow("an answer ends the retries") << true << 1 << 2 << true;
    }
    void failureAfterAChangeIsTriedAgain()
    {
        QFETCH(bool, changed);
        QFETCH(int, failures);
        QFETCH(int, requests);
        QFETCH(bool, thenFails);
        Rig rig;
        rig.monitor->setWakeRetryDelays({50, 100, 150});
        for (int i = 0; i < failures; ++i)
            rig.server.enqueue(ExternalIpPage::Path, Response::status(503));
        rig.server.setResponse(ExternalIpPage::Path, Response::ok("203.0.113.7", "text/plain"));
        QSignalSpy completed(rig.monitor.get(), &AddressMonitor::lookupFinished);
        if (changed)
            emit rig.monitor->networkWatch()->changed();
        else
            rig.monitor->Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), requests, 5000);
        QTest::qWait(400);
        QCOMPARE(rig.server.requests().size(), requests);
        QCOMPARE(completed.last().at(0).value<LookupResult>().answered(), failures < requests);
        if (thenFails) {
            rig.server.enqueue(ExternalIpPage::Path, Response::status(503));
            rig.monitor->Refresh();
            QTRY_COMPARE_WITH_TIMEOUT(completed.size(), requests + 1, 5000);
            QTest::qWait(400);
            QCOMPARE(rig.server.requests().size(), requests + 1);
        }
    }

    /// A change the other program stored first is still one for this program after a reload: the
    /// previous addresses are this process's own, never read again. Its options are.
    void reloadKeepsThePreviousAddresses()
    {
        Rig rig(nullptr);
        rig.server.setResponse(ExternalIpPage::Path, Response::ok("203.0.113.7", "text/plain"));
        QSignalSpy completed(rig.monitor.get(), &AddressMonitor::lookupFinished);
        rig.monitor->Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 1, 5000);
        rig.server.setResponse(ExternalIpPage::Path, Response::ok("203.0.113.8", "text/plain"));
        rig.store.SaveSetting(SettingKeys::OldExternal, QStringLiteral("203.0.113.8"));
        rig.store.SaveSetting(SettingKeys::WatchNetwork, QStringLiteral("1"));
        QVERIFY(!rig.monitor->networkWatch());
        rig.monitor->Reload();
        // An option the other program saved is applied as it is read again, without a restart.
        QVERIFY(rig.monitor->networkWatch());
        rig.monitor->Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 2, 5000);
        const auto result = completed.last().at(0).value<LookupResult>();
        QVERIFY(result.changed);
        QCOMPARE(result.previous.external, QStringLiteral("203.0.113.7"));
    }

    /// IPv4 and IPv6 followed apart, in a private network namespace with a default route of each family:
    /// each family's change is a change, a temporary address rotating and a first IPv6 address are
    /// none, a machine without IPv6 is no outage, and with the switch off IPv6 is not asked.
    void familiesFollowedApart_data()
    {
        QTest::addColumn<bool>("follow");
        QTest::addColumn<bool>("route6"); // an IPv6 default route and a stable address
        QTest::addColumn<QString>("stored6");
        QTest::addColumn<QString>("answer4");
        QTest::addColumn<QString>("answer6");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("shown6");
        QTest::addColumn<QString>("kept6"); // OldExternal6 afterwards
        const QString v4 = QStringLiteral("198.51.100.1"), p1 = QStringLiteral("2001:db8:1:1::5");
        QTest::newRow("IPv6 alone changes")
            << true << true << p1 << v4 << "2001:db8:1:2::5" << true << "2001:db8:1:2::5"
            << "2001:db8:1:2::5";
        QTest::newRow("IPv4 alone changes") << true << true << p1 << "198.51.100.2" << p1 << true << p1 << p1;
        QTest::newRow("a temporary address rotates")
            << true << true << p1 << v4 << "2001:db8:1:1:abcd::9" << false << "2001:db8:1:1:abcd::9"
            << "2001:db8:1:1:abcd::9";
        QTest::newRow("the first IPv6 address") << true << true << "0" << v4 << p1 << false << p1 << p1;
        QTest::newRow("no IPv6 here") << true << false << p1 << v4 << p1 << false << "no IPv6" << p1;
        QTest::newRow("switched off")
            << false << true << p1 << v4 << "2001:db8:1:2::5" << false << AddressMonitor::Unknown << p1;
    }
    void familiesFollowedApart()
    {
        QFETCH(bool, follow);
        QFETCH(bool, route6);
        QFETCH(QString, stored6);
        QFETCH(QString, answer4);
        QFETCH(QString, answer6);
        QFETCH(bool, changed);
        QFETCH(QString, shown6);
        QFETCH(QString, kept6);
        if (!qEnvironmentVariableIsSet(InNetworkNamespace)) {
            const QString six = QStringLiteral(" && sysctl -qw net.ipv6.conf.n1.accept_dad=0 && "
                                               "ip -6 addr add 2001:db8:b::5/64 dev n1 nodad && "
                                               "ip -6 route add default via 2001:db8:b::1 dev n1");
            return runInNetworkNamespace(
                QStringLiteral("AddressMonitorWatchTest"), {QStringLiteral("-n")},
                QStringLiteral(
                    "ip link add n1 type veth peer name pn1 && ip link set n1 up && ip link set pn1 up && "
                    "ip addr add 192.168.77.5/24 dev n1 && ip route add default via 192.168.77.1 dev n1") +
                    (route6 ? six : QString()));
        }
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        ScriptedHttpServer four, six;
        QVERIFY(six.listenOn(QHostAddress::LocalHostIPv6));
        four.setResponse("/ip", Response::ok(answer4.toUtf8(), "text/plain"));
        six.setResponse("/ip", Response::ok(answer6.toUtf8(), "text/plain"));
        store.SaveSetting(SettingKeys::IpSources,
                          four.url("/ip").toString() + QStringLiteral(" http://[::1]:%1/ip").arg(six.port()));
        store.SaveSetting(SettingKeys::FollowFamilies, SettingKeys::flagText(follow));
        store.SaveSetting(SettingKeys::OldExternal, QStringLiteral("198.51.100.1"));
        store.SaveSetting(SettingKeys::OldInternal, QStringLiteral("192.168.77.5"));
        store.SaveSetting(SettingKeys::OldExternal6, stored6);
        store.SaveSetting(SettingKeys::OldInternal6, QStringLiteral("2001:db8:b::5"));
        // The command on a change sees both families' addresses.
        const QString seen = temp.path() + QStringLiteral("/seen");
        store.SaveSetting(SettingKeys::ChangeCommand,
                          QStringLiteral("sh -c \"env | grep ^NETQUILL_ > %1\"").arg(seen));
        AddressMonitor monitor(store);
        monitor.Load();
        QSignalSpy finished(&monitor, &AddressMonitor::lookupFinished);
        monitor.Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        const auto result = finished.first().at(0).value<LookupResult>();
        QVERIFY(result.answered()); // never an outage of the whole lookup
        QCOMPARE(result.changed, changed);
        QCOMPARE(result.ipv6.has_value(), follow);
        QCOMPARE(monitor.current6().addresses.external, shown6);
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal6), kept6);
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), answer4);
        QCOMPARE(six.requests().size(), follow && route6 ? 1 : 0);
        if (changed) {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(seen).size() > 0 && !monitor.commandBusy(), 10000);
            QFile file(seen);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray env = file.readAll();
            QVERIFY2(env.contains("NETQUILL_EXTERNAL=" + answer4.toUtf8() + '\n'), env.constData());
            QVERIFY2(env.contains("NETQUILL_EXTERNAL6=" + answer6.toUtf8() + '\n') &&
                         env.contains("NETQUILL_OLD_EXTERNAL6=" + stored6.toUtf8() + '\n'),
                     env.constData());
        }
        // The mail's address lines carry both of their kind, IPv4 first.
        QCOMPARE(monitor.m_message.externalAddress,
                 follow ? answer4 + QStringLiteral(", ") + shown6 : answer4);
    }

    /// The labels keep the last good pair, and the log has the address the machine has now.
    void failedLookupLogsTheInternalAddress()
    {
        Rig rig;
        rig.server.setResponse(ExternalIpPage::Path, Response::status(500));
        QSignalSpy shown(rig.monitor.get(), &AddressMonitor::addressesShown);
        QSignalSpy status(rig.monitor.get(), &AddressMonitor::statusChanged);
        QTest::ignoreMessage(QtInfoMsg,
                             QRegularExpression(QStringLiteral("internal address is now \"%1\"")
                                                    .arg(QRegularExpression::escape(Winsock::LocalIP()))));
        emit rig.monitor->networkWatch()->changed();
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0) != LookupCycle::StatusLooking,
                                 10000);
        QCOMPARE(status.last().at(0).toString(), LookupCycle::StatusFailed);
        QVERIFY(shown.isEmpty());
    }
};
NETQUILL_TEST(AddressMonitorWatchTest)
#include "AddressMonitorWatchTest.moc"

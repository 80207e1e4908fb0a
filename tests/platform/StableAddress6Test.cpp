#include "StableAddress6.h"
#include "NetworkNamespace.h"
#include "TestMain.h"

#include <QTest>

class StableAddress6Test : public QObject {
    Q_OBJECT
private slots:
    void stableAddressOfTheDefaultRouteLink_data()
    {
        // Two links without duplicate address detection, making temporary addresses: n0 with
        // 2001:db8:a::1, lower than any address of n1, and n1.
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expected");
        // The stable address sorts after the temporary and the deprecated one: only their flags rule
        // them out. The lower-metric default of another table is a tunnel's, reached by a rule.
        QTest::newRow("past temporary and deprecated")
            << "ip -6 addr add 2001:db8:b:0:ffff:ffff:ffff:fff5/64 dev n1 mngtmpaddr && "
               "ip -6 addr add 2001:db8:b::3/64 dev n1 preferred_lft 0 && "
               "ip -6 addr add fd00:b::5/64 dev n1 && "
               "ip -6 route add default via 2001:db8:b::1 dev n1 metric 100 && "
               "ip -6 route add default via 2001:db8:a::2 dev n0 metric 200 && "
               "ip -6 route add default via 2001:db8:a::2 dev n0 table 100 metric 1 && "
               "ip -6 rule add from all lookup 100 pref 100"
            << "2001:db8:b:0:ffff:ffff:ffff:fff5";
        QTest::newRow("unique local while the global one is tentative")
            << "sysctl -qw net.ipv6.conf.n1.accept_dad=1 && ip link set pn1 down && "
               "ip -6 addr add 2001:db8:b::5/64 dev n1 && ip -6 addr add fd00:b::5/64 dev n1 nodad && "
               "ip -6 route add default dev n1"
            << "fd00:b::5";
        QTest::newRow("only deprecated and link-local")
            << "ip -6 addr add 2001:db8:b::3/64 dev n1 preferred_lft 0 && ip -6 route add default dev n1"
            << "";
        QTest::newRow("no IPv6 default route") << "ip -6 addr add 2001:db8:b::5/64 dev n1 && "
                                                  "ip addr add 192.168.77.5/24 dev n1 && "
                                                  "ip route add default via 192.168.77.1 dev n1"
                                               << "";
    }
    void stableAddressOfTheDefaultRouteLink()
    {
        QFETCH(QString, setup);
        QFETCH(QString, expected);
        if (qEnvironmentVariableIsSet(InNetworkNamespace)) {
            QCOMPARE(StableAddress6::find(), expected);
            return;
        }
        QString links = QStringLiteral("sysctl -qw net.ipv6.conf.default.accept_dad=0 "
                                       "net.ipv6.conf.default.use_tempaddr=2 && ");
        for (const char *link : {"n0", "n1"})
            links += QStringLiteral("ip link add %1 type veth peer name p%1 && ip link set %1 up && "
                                    "ip link set p%1 up && ")
                         .arg(QLatin1String(link));
        links += QStringLiteral("ip -6 addr add 2001:db8:a::1/64 dev n0 && ");
        runInNetworkNamespace(QStringLiteral("StableAddress6Test"), {QStringLiteral("-n")}, links + setup);
    }
};

NETQUILL_TEST(StableAddress6Test)
#include "StableAddress6Test.moc"

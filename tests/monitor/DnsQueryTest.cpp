#include "DnsQuery.h"
#include "IpSource.h"
#include "IpSourceList.h"
#include "NetworkNamespace.h"
#include "ProcessStop.h"
#include "TestMain.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>
#include <QUdpSocket>
#include <QVersionNumber>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {
const QString SilentServer = QStringLiteral("127.0.0.9");
// Qt before 6.6 cannot be trusted to send a query to the server it is given (see DnsQuery.cpp).
const bool OldQt = QLibraryInfo::version() < QVersionNumber(6, 6);

QString dnsmasqBinary()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("dnsmasq"));
    return found.isEmpty()
               ? QStandardPaths::findExecutable(QStringLiteral("dnsmasq"),
                                                {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
               : found;
}

/// dnsmasq answering from its command line alone; it ends with this object or with the test.
class Dnsmasq {
public:
    ~Dnsmasq() { stopProcess(m_process); }

    /// Empty once it listens on port 53 of the addresses; why not otherwise.
    QString start(const QStringList &addresses, const QStringList &records)
    {
        QStringList arguments = {"--keep-in-foreground", "--conf-file",       "--pid-file",
                                 "--user=root",          "--group=",          "--no-resolv",
                                 "--no-hosts",           "--bind-interfaces", "--local=/test/",
                                 "--log-facility=-"};
        for (const QString &address : addresses)
            arguments.append(QStringLiteral("--listen-address=") + address);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
#ifdef Q_OS_LINUX
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
        m_process.start(dnsmasqBinary(), arguments + records);
        // Its sockets are bound before it says it started; one that cannot be bound ends it at once.
        QByteArray log;
        while (!log.contains("started, version")) {
            if (!m_process.waitForReadyRead(5000))
                return QStringLiteral("dnsmasq did not start: ") +
                       QString::fromLocal8Bit(log + m_process.readAll());
            log += m_process.readAll();
        }
        return {};
    }

private:
    QProcess m_process;
};

/// Runs the current test function (and row) again in private network and mount namespaces, where
/// port 53 of the loopback is free and resolv.conf is a file of the test's own, naming
/// systemServers; the child's verdict is the test's.
void runInNamespace(const QString &systemServers)
{
    if (dnsmasqBinary().isEmpty())
        NETQUILL_REQUIRE(QStringLiteral("dnsmasq is not installed (Debian: dnsmasq-base)"));
    QTemporaryFile resolvConf;
    QVERIFY(resolvConf.open());
    resolvConf.write(systemServers.toLatin1());
    resolvConf.flush();
    runInNetworkNamespace(QStringLiteral("DnsQueryTest"), {QStringLiteral("-n"), QStringLiteral("-m")},
                          QStringLiteral("mount --bind \"$0\" /etc/resolv.conf"), {resolvConf.fileName()});
}

/// The name servers inside the namespace: the one asked, the system's, and one that never answers.
struct Servers {
    Dnsmasq server;
    Dnsmasq system; // what resolv.conf names: it knows every name, with other addresses
    QUdpSocket silent;

    QString start()
    {
        QString failed =
            server.start({QStringLiteral("127.0.0.1")},
                         {"--address=/myip.test/203.0.113.5", "--address=/myip.test/2001:db8::5",
                          "--address=/mapped.test/::ffff:203.0.113.8", "--host-record=multi.test,203.0.113.5",
                          "--host-record=multi.test,203.0.113.6", "--dns-rr=dup.test,1,CB007105",
                          "--dns-rr=dup.test,1,CB007105", "--txt-record=o-o.myaddr.test,203.0.113.9",
                          "--txt-record=junk.test,not an address",
                          "--txt-record=mixed.test,edns0-client-subnet 192.0.2.0/24",
                          "--txt-record=mixed.test,203.0.113.9", "--txt-record=two.test,203.0.113.9",
                          "--txt-record=two.test,203.0.113.10"});
        if (failed.isEmpty())
            failed = system.start({QStringLiteral("127.0.0.2"), QStringLiteral("::1")},
                                  {"--address=/test/198.51.100.66", "--address=/test/2001:db8::66",
                                   "--txt-record=o-o.myaddr.test,198.51.100.66"});
        if (failed.isEmpty() && !silent.bind(QHostAddress(SilentServer), 53))
            failed = QStringLiteral("cannot bind the silent server: ") + silent.errorString();
        return failed;
    }
};

const QString SystemServers = QStringLiteral("nameserver 127.0.0.2\nnameserver ::1\n");
} // namespace

class DnsQueryTest : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parts");   // server, name and type, or empty when refused
        QTest::addColumn<QString>("refusal"); // a word of the reason
        QTest::addColumn<QString>("shown");   // the source's name in the dialog; empty: not checked
        QTest::newRow("OpenDNS, IPv4")
            << IpSourceList::OpenDnsIPv4 << "resolver1.opendns.com myip.opendns.com A"
            << ""
            << "myip.opendns.com (DNS A, resolver1.opendns.com)";
        QTest::newRow("OpenDNS, IPv6")
            << IpSourceList::OpenDnsIPv6 << "resolver1.opendns.com myip.opendns.com AAAA"
            << ""
            << "";
        QTest::newRow("Google") << IpSourceList::GoogleDns << "ns1.google.com o-o.myaddr.l.google.com TXT"
                                << ""
                                << "o-o.myaddr.l.google.com (DNS TXT, ns1.google.com)";
        QTest::newRow("letter case, trailing dot") << "DNS://NS.Example.COM/MyIP.test.?type=aaaa"
                                                   << "ns.example.com MyIP.test AAAA"
                                                   << ""
                                                   << "";
        QTest::newRow("IPv6 server") << "dns://[2001:db8::53]/myip.test?type=Txt"
                                     << "2001:db8::53 myip.test TXT"
                                     << ""
                                     << "myip.test (DNS TXT, 2001:db8::53)";
        QTest::newRow("underscore") << "dns://192.0.2.53/_ip.test?type=A"
                                    << "192.0.2.53 _ip.test A"
                                    << ""
                                    << "";
        QTest::newRow("web service") << "https://api.ipify.org"
                                     << ""
                                     << "dns://"
                                     << "https://api.ipify.org";
        QTest::newRow("empty") << ""
                               << ""
                               << "empty"
                               << "";
        QTest::newRow("port") << "dns://ns.example.com:53/myip.test?type=A"
                              << ""
                              << "port"
                              << "";
        QTest::newRow("user") << "dns://me@ns.example.com/myip.test?type=A"
                              << ""
                              << "user"
                              << "";
        QTest::newRow("fragment") << "dns://ns.example.com/myip.test?type=A#x"
                                  << ""
                                  << "fragment"
                                  << "";
        QTest::newRow("no server") << "dns:///myip.test?type=A"
                                   << ""
                                   << "server"
                                   << "";
        QTest::newRow("no name") << "dns://ns.example.com/?type=A"
                                 << ""
                                 << "name"
                                 << "";
        QTest::newRow("slash in the name") << "dns://ns.example.com/a/b?type=A"
                                           << ""
                                           << "name"
                                           << "";
        QTest::newRow("empty label") << "dns://ns.example.com/a..test?type=A"
                                     << ""
                                     << "name"
                                     << "";
        QTest::newRow("label too long") << "dns://ns.example.com/" + QString(64, 'a') + ".test?type=A"
                                        << ""
                                        << "name"
                                        << "";
        QTest::newRow("space in the name") << "dns://ns.example.com/my%20ip.test?type=A"
                                           << ""
                                           << "name"
                                           << "";
        QTest::newRow("no type") << "dns://ns.example.com/myip.test"
                                 << ""
                                 << "type"
                                 << "";
        QTest::newRow("other type") << "dns://ns.example.com/myip.test?type=MX"
                                    << ""
                                    << "type"
                                    << "";
        QTest::newRow("two types") << "dns://ns.example.com/myip.test?type=A&type=TXT"
                                   << ""
                                   << "type"
                                   << "";
        QTest::newRow("other parameter") << "dns://ns.example.com/myip.test?type=A&x=1"
                                         << ""
                                         << "type"
                                         << "";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, parts);
        QFETCH(QString, refusal);
        QFETCH(QString, shown);
        const DnsQuery::Parsed parsed = DnsQuery::parse(text);
        QCOMPARE(parsed.ok(), refusal.isEmpty());
        if (parsed.ok()) {
            const DnsQuery::Target &target = parsed.target;
            QCOMPARE(QStringList({target.server, target.name, DnsQuery::typeName(target.type)}).join(' '),
                     parts);
        } else {
            QVERIFY2(parsed.refusal.contains(refusal), qPrintable(parsed.refusal));
        }
        if (!shown.isEmpty())
            QCOMPARE((IpSource{false, QUrl(text)}.displayName()), shown);
    }

    /// Each row asks the server inside a private namespace, whose system name servers answer every
    /// name with other addresses: an answer from them instead of the server asked shows.
    void answers_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("systemServers");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("failure");
        const auto row = [](const char *tag, const char *url, const char *address, const char *failure = "") {
            QTest::newRow(tag) << QString::fromLatin1(url) << SystemServers << address << failure;
        };
        row("A", "dns://127.0.0.1/myip.test?type=A", "203.0.113.5");
        row("AAAA", "dns://127.0.0.1/myip.test?type=AAAA", "2001:db8::5");
        row("TXT", "dns://127.0.0.1/o-o.myaddr.test?type=TXT", "203.0.113.9");
        row("TXT beside other text", "dns://127.0.0.1/mixed.test?type=TXT", "203.0.113.9");
        row("TXT not an address", "dns://127.0.0.1/junk.test?type=TXT", "", "TXT is not an address");
        row("two TXT addresses", "dns://127.0.0.1/two.test?type=TXT", "",
            "several addresses in the answer: 203.0.113.10, 203.0.113.9");
        row("two A records", "dns://127.0.0.1/multi.test?type=A", "",
            "several addresses in the answer: 203.0.113.5, 203.0.113.6");
        row("the same A record twice", "dns://127.0.0.1/dup.test?type=A", "203.0.113.5");
        row("IPv4 address in an AAAA record", "dns://127.0.0.1/mapped.test?type=AAAA", "",
            "wrong address family in the answer");
        row("no such name", "dns://127.0.0.1/none.test?type=A", "", "no such name");
        row("no record of the type", "dns://127.0.0.1/o-o.myaddr.test?type=A", "",
            "no record, or no valid reply");
        row("server by host name", "dns://localhost/myip.test?type=A", "203.0.113.5");
        // ns.test has an address of each family: an AAAA query must not go over IPv4, or the server
        // would tell the IPv4 address it came from.
        if (OldQt)
            row("AAAA asks the server over IPv6", "dns://ns.test/myip.test?type=AAAA", "",
                "this Qt cannot ask a name server over IPv6");
        row("server never answers", "dns://127.0.0.9/myip.test?type=A", "", "timed out");
        row("refused address", "dns://127.0.0.1:53/myip.test?type=A", "",
            "no port is allowed: the server is asked on port 53");
        // The name server on ::1 is the system's one: only a Qt that can ask it directly gets its answer.
        row("IPv6 server", "dns://[::1]/myip.test?type=AAAA", OldQt ? "" : "2001:db8::66",
            OldQt ? "this Qt cannot ask a name server over IPv6" : "");
        QTest::newRow("system's first name server IPv6")
            << "dns://127.0.0.1/myip.test?type=A"
            << "nameserver ::1\nnameserver 127.0.0.2\n"
            << (OldQt ? "" : "203.0.113.5")
            << (OldQt ? "this Qt cannot ask it while the system's first name server is IPv6" : "");
    }
    void answers()
    {
        QFETCH(QString, url);
        QFETCH(QString, systemServers);
        QFETCH(QString, address);
        QFETCH(QString, failure);
        if (!qEnvironmentVariableIsSet(InNetworkNamespace)) {
            runInNamespace(systemServers);
            return;
        }
        Servers servers;
        NETQUILL_REQUIRE(servers.start());
        DnsQuery query;
        QList<DnsQuery::Result> results;
        connect(&query, &DnsQuery::finished, this,
                [&results](const DnsQuery::Result &r) { results.append(r); });
        query.ask(QUrl(url));
        QVERIFY(results.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, DnsQuery::DefaultTimeoutMs + 2000);
        QCOMPARE(results.at(0).failure, failure);
        QCOMPARE(results.at(0).address, address);
        const qint64 elapsed = results.at(0).elapsedMs;
        if (failure == QLatin1String("timed out"))
            QVERIFY2(elapsed >= DnsQuery::DefaultTimeoutMs && elapsed < DnsQuery::DefaultTimeoutMs + 1000,
                     qPrintable(QString::number(elapsed)));
        else
            QVERIFY2(elapsed >= 0 && elapsed < 2000, qPrintable(QString::number(elapsed)));
        QVERIFY(!query.busy());
        // Only a query given up still runs in Qt's resolver thread, which the service's exit must not wait
        // for.
        QCOMPARE(DnsQuery::anyLeftRunning(), failure == QLatin1String("timed out"));
        QTest::qWait(100);
        QCOMPARE(results.size(), 1);
    }

    /// A new question drops the pending one and stop() drops it: neither ends with finished().
    void dropping()
    {
        if (!qEnvironmentVariableIsSet(InNetworkNamespace)) {
            // The resolver's own time limit ends the dropped lookups' threads, which the test's end awaits.
            runInNamespace(SystemServers + QStringLiteral("options timeout:1 attempts:1\n"));
            return;
        }
        Servers servers;
        NETQUILL_REQUIRE(servers.start());
        DnsQuery query;
        query.setTimeout(300);
        QList<DnsQuery::Result> results;
        connect(&query, &DnsQuery::finished, this,
                [&results](const DnsQuery::Result &r) { results.append(r); });
        const QUrl silent(QStringLiteral("dns://%1/myip.test?type=A").arg(SilentServer));
        query.ask(silent);
        query.ask(QUrl(QStringLiteral("dns://127.0.0.1/myip.test?type=A")));
        QTRY_COMPARE(results.size(), 1);
        QCOMPARE(results.at(0).address, QStringLiteral("203.0.113.5"));
        for (const QString &pending : {silent.toString(), QStringLiteral("dns://localhost/myip.test?type=A"),
                                       QStringLiteral("dns://127.0.0.1:53/myip.test?type=A")}) {
            query.ask(QUrl(pending));
            QVERIFY(query.busy());
            query.stop();
            QVERIFY(!query.busy());
        }
        QTest::qWait(600); // past the time limit of every question dropped
        QCOMPARE(results.size(), 1);
    }
};

NETQUILL_TEST(DnsQueryTest)
#include "DnsQueryTest.moc"

#include "Winsock.h"
#include "NetworkNamespace.h"
#include "TestMain.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {
/// Connects the control to a local server; the server's side of the connection, or null.
QTcpSocket *connectToLocalServer(QTcpServer &server, Winsock &socket)
{
    if (!server.listen(QHostAddress::LocalHost, 0))
        return nullptr;
    QSignalSpy connected(&socket, &Winsock::Connected);
    if (!socket.Connect(QStringLiteral("127.0.0.1"), server.serverPort()) ||
        !QTest::qWaitFor([&] { return connected.count() == 1 && server.hasPendingConnections(); }, 5000))
        return nullptr;
    return server.nextPendingConnection();
}
} // namespace

class WinsockTest : public QObject {
    Q_OBJECT
private slots:
    void localAddressIsDottedIPv4()
    {
        const QString ip = Winsock::LocalIP();
        QHostAddress address;
        QVERIFY2(address.setAddress(ip), qPrintable(ip));
        QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
        QCOMPARE(ip.count(QLatin1Char('.')), 3);
        QVERIFY(!Winsock::LocalHostName().isEmpty());
    }

    void localAddressFollowsTheDefaultRoute_data()
    {
        // Two links, n0 (10.99.0.1, listed first, as docker0 or tun0 often is) and n1 (192.168.77.5).
        QTest::addColumn<QString>("routes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default on the second link") << "ip route add default via 192.168.77.1 dev n1"
                                                    << "192.168.77.5";
        QTest::newRow("lowest metric") << "ip route add default via 10.99.0.254 dev n0 metric 200 && "
                                          "ip route add default via 192.168.77.1 dev n1 metric 100"
                                       << "192.168.77.5";
        QTest::newRow("tunnel's policy-routed default") << "ip route add default via 192.168.77.1 dev n1 && "
                                                           "ip route add default dev n0 table 100 && "
                                                           "ip rule add from all lookup 100 pref 100"
                                                        << "192.168.77.5";
        QTest::newRow("no default route: the first link") << "true"
                                                          << "10.99.0.1";
    }
    void localAddressFollowsTheDefaultRoute()
    {
        QFETCH(QString, routes);
        QFETCH(QString, expected);
        if (qEnvironmentVariableIsSet(InNetworkNamespace)) {
            QCOMPARE(Winsock::LocalIP(), expected);
            return;
        }
        QString links;
        for (const char *link : {"n0 10.99.0.1", "n1 192.168.77.5"}) {
            const QStringList parts = QString::fromLatin1(link).split(u' ');
            links += QStringLiteral("ip link add %1 type veth peer name p%1 && ip addr add %2/24 dev %1 && "
                                    "ip link set %1 up && ip link set p%1 up && ")
                         .arg(parts[0], parts[1]);
        }
        runInNetworkNamespace(QStringLiteral("WinsockTest"), {QStringLiteral("-n")}, links + routes);
    }

    void connectRefusesWhatItCannotUse_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("port 0") << "127.0.0.1" << 0;
        QTest::newRow("port too large") << "127.0.0.1" << 70000;
        QTest::newRow("negative port") << "127.0.0.1" << -1;
        QTest::newRow("no host") << "" << 25;
    }
    void connectRefusesWhatItCannotUse()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        Winsock socket;
        QVERIFY(!socket.Connect(host, port));
        QCOMPARE(socket.State(), 0);
    }

    void eightBitTextBothWaysAndBusyWhileOpen()
    {
        QTcpServer server;
        Winsock socket;
        QTcpSocket *peer = connectToLocalServer(server, socket);
        QVERIFY(peer);
        QVERIFY(socket.State() != 0);
        QVERIFY(!socket.Connect(QStringLiteral("127.0.0.1"), server.serverPort())); // not closed

        socket.SendData(QStringLiteral("HELO caf\u00e9\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() >= 11, 5000);
        QCOMPARE(peer->readAll(), QByteArray("HELO caf\xe9\r\n")); // one byte per character

        QSignalSpy arrived(&socket, &Winsock::DataArrival);
        peer->write("250 ok \xff\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(arrived.count() > 0, 5000);
        QCOMPARE(socket.GetData(), QStringLiteral("250 ok \u00ff\r\n"));
        QCOMPARE(socket.GetData(), QString());

        socket.Close();
        QCOMPARE(socket.State(), 0);
        socket.Close(); // closing a closed control does nothing
        QCOMPARE(socket.State(), 0);
    }

    void closedOnlyWhenThePeerCloses_data()
    {
        QTest::addColumn<bool>("localClose");
        QTest::addColumn<QByteArray>("data"); // sent before the close by the side that closes
        QTest::addColumn<int>("closedEvents");
        QTest::newRow("local close, nothing pending") << true << QByteArray() << 0;
        QTest::newRow("local close, data pending") << true << QByteArray("QUIT\r\n") << 0;
        QTest::newRow("remote close") << false << QByteArray() << 1;
        QTest::newRow("remote close with data") << false << QByteArray("221 bye\r\n") << 1;
    }
    void closedOnlyWhenThePeerCloses()
    {
        QFETCH(bool, localClose);
        QFETCH(QByteArray, data);
        QFETCH(int, closedEvents);
        QTcpServer server;
        Winsock socket;
        QTcpSocket *peer = connectToLocalServer(server, socket);
        QVERIFY(peer);
        QSignalSpy closed(&socket, &Winsock::Closed);
        if (localClose) {
            socket.SendData(QString::fromLatin1(data));
            socket.Close();
            QTRY_VERIFY_WITH_TIMEOUT(peer->state() != QAbstractSocket::ConnectedState, 5000);
            QCOMPARE(peer->readAll(), data);
        } else {
            peer->write(data);
            peer->disconnectFromHost();
            QTRY_COMPARE_WITH_TIMEOUT(socket.State(), 0, 5000);
            QCOMPARE(socket.GetData(), QString::fromLatin1(data)); // still there after the close
        }
        socket.Close();    // a second, local close of a closed control
        QTest::qWait(100); // room for a late or repeated event
        QCOMPARE(closed.count(), closedEvents);
    }

    void dataSentJustBeforeCloseStillLeaves()
    {
        QTcpServer server;
        Winsock socket;
        QTcpSocket *peer = connectToLocalServer(server, socket);
        QVERIFY(peer);
        socket.SendData(QStringLiteral("QUIT\r\n"));
        socket.Close();
        QCOMPARE(socket.State(), 0); // closed for the program at once
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT(peer->state() != QAbstractSocket::ConnectedState, 5000);
        received += peer->readAll();
        QCOMPARE(received, QByteArray("QUIT\r\n"));
        QVERIFY(socket.Connect(QStringLiteral("127.0.0.1"), server.serverPort())); // and free to reconnect
    }
};

NETQUILL_TEST(WinsockTest)
#include "WinsockTest.moc"

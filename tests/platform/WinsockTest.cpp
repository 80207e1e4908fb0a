#include "TestMain.h"
#include "Winsock.h"

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

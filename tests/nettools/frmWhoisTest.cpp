#include "frmWhois.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {
/// A whois server on 127.0.0.1 that the windows made while it lives connect to.
struct WhoisPeer {
    QTcpServer server;
    QPointer<QTcpSocket> peer;

    WhoisPeer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        qputenv("NETQUILL_WHOIS_HOST", "127.0.0.1:" + QByteArray::number(server.serverPort()));
    }
    ~WhoisPeer() { qunsetenv("NETQUILL_WHOIS_HOST"); }

    /// Takes the window's connection and everything it sends up to and including the first CR LF.
    QByteArray acceptQuery()
    {
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 5000))
            return "(no connection)";
        peer = server.nextPendingConnection();
        QByteArray received;
        // A query cut short shows in the caller's comparison.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                received += peer->readAll();
                return received.contains("\r\n");
            },
            5000));
        return received;
    }
    bool peerClosed()
    {
        return QTest::qWaitFor([this] { return !peer || peer->state() == QAbstractSocket::UnconnectedState; },
                               5000);
    }
};

/// Writes one packet and waits until the window has taken it, so that each arrives on its own.
bool deliver(WhoisPeer &whois, frmWhois *window, const QByteArray &packet)
{
    QSignalSpy arrivals(window->Winsock1, &Winsock::DataArrival);
    whois.peer->write(packet);
    return arrivals.wait(5000);
}
} // namespace

class frmWhoisTest : public QObject {
    Q_OBJECT
private slots:
    void answerShownWhenTheServerCloses_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArrayList>("packets");
        QTest::addColumn<bool>("serverCloses");
        QTest::addColumn<QString>("shown");

        QTest::newRow("answer in many packets")
            << "example.com" << QByteArray("example.com\r\n")
            << QByteArrayList{"Domain Name: EXAMPLE.COM\r\n", "Registrar: Ex", "ample Registrar\r\n",
                              "Status: ok\r\n"}
            << true << "Domain Name: EXAMPLE.COM\nRegistrar: Example Registrar\nStatus: ok\n";
        QTest::newRow("query sent as typed")
            << "  -T dn Example.COM " << QByteArray("  -T dn Example.COM \r\n")
            << QByteArrayList{"% no match\n"} << true << "% no match\n";
        QTest::newRow("empty query") << "" << QByteArray("\r\n") << QByteArrayList{"% empty query\n"} << true
                                     << "% empty query\n";
        QTest::newRow("markup and 8-bit text shown as they are")
            << "x" << QByteArray("x\r\n") << QByteArrayList{"<b>Name:</b> M\xfcller &amp; Co\n"} << true
            << QStringLiteral("<b>Name:</b> M\u00fcller &amp; Co\n");
        QTest::newRow("server never closes")
            << "example.com" << QByteArray("example.com\r\n")
            << QByteArrayList{"Domain Name: ", "EXAMPLE.COM\r\n"} << false << "";
    }
    void answerShownWhenTheServerCloses()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArrayList, packets);
        QFETCH(bool, serverCloses);
        QFETCH(QString, shown);

        WhoisPeer whois;
        QPointer<frmWhois> window = new frmWhois(query);
        QCOMPARE(whois.acceptQuery(), sent);
        for (const QByteArray &packet : packets) {
            QVERIFY(deliver(whois, window, packet));
            QCOMPARE(window->text1->toPlainText(), QString()); // nothing shows before the end
        }
        if (serverCloses) {
            whois.peer->disconnectFromHost();
            QTRY_COMPARE_WITH_TIMEOUT(window->text1->toPlainText(), shown, 5000);
        } else {
            QTest::qWait(100);
            QCOMPARE(window->text1->toPlainText(), QString());
        }
        delete window;
    }

    void answerBound_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("lineLength"); // 0: one line without a break
        QTest::addColumn<bool>("serverCloses");
        QTest::newRow("exactly the bound, then the server closes") << frmWhois::MaxAnswerLength << 64 << true;
        QTest::newRow("past the bound, the server goes on")
            << frmWhois::MaxAnswerLength + 4096 << 64 << false;
        QTest::newRow("past the bound in one endless line") << frmWhois::MaxAnswerLength + 4096 << 0 << false;
    }
    void answerBound()
    {
        QFETCH(qsizetype, size);
        QFETCH(int, lineLength);
        QFETCH(bool, serverCloses);
        QByteArray answer(size, 'x');
        for (qsizetype end = lineLength - 1; lineLength > 0 && end < size; end += lineLength)
            answer[end] = '\n';

        WhoisPeer whois;
        QPointer<frmWhois> window = new frmWhois(QStringLiteral("flood.example"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(whois.acceptQuery(), QByteArray("flood.example\r\n"));
        QElapsedTimer clock;
        clock.start();
        whois.peer->write(answer);
        if (serverCloses)
            whois.peer->disconnectFromHost();
        QVERIFY(whois.peerClosed()); // past the bound, the window itself ends the connection
        QTRY_VERIFY_WITH_TIMEOUT(!window->text1->toPlainText().isEmpty(), 5000);
        window->grab(); // lays the text out as the screen would
        // However the answer is cut into lines, showing it must not hang the program.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        const QString text = window->text1->toPlainText();
        QCOMPARE(text.size(), frmWhois::MaxAnswerLength);
        QVERIFY(text == QString::fromLatin1(answer.left(frmWhois::MaxAnswerLength)));
        delete window;
    }

    void closingTheWindowEndsTheConnection()
    {
        WhoisPeer whois;
        QPointer<frmWhois> window = new frmWhois(QStringLiteral("example.com"));
        window->show();
        QCOMPARE(window->size(), QSize(549, 437));
        QCOMPARE(window->text1->geometry(), window->rect());
        QCOMPARE(whois.acceptQuery(), QByteArray("example.com\r\n"));
        QVERIFY(deliver(whois, window, "Domain Name: EXAMPLE.COM\r\n"));
        window->close();
        QVERIFY(whois.peerClosed());
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
    }
};

NETQUILL_TEST(frmWhoisTest)
#include "frmWhoisTest.moc"

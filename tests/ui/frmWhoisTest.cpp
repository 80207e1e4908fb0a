#include "frmWhois.h"
#include "FreePort.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
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
        QTest::newRow("markup and Latin-1 text shown as they are")
            << "x" << QByteArray("x\r\n") << QByteArrayList{"<b>Name:</b> M\xfcller &amp; Co\n"} << true
            << QStringLiteral("<b>Name:</b> M\u00fcller &amp; Co\n");
        QTest::newRow("UTF-8, a character split between packets")
            << "x" << QByteArray("x\r\n") << QByteArrayList{"Name: M\xc3", "\xbcller \xe2\x82\xac\n"} << true
            << QStringLiteral("Name: M\u00fcller \u20ac\n");
        QTest::newRow("UTF-8 but for one byte: all Latin-1")
            << "x" << QByteArray("x\r\n")
            << QByteArrayList{"Stra\xc3\x9f"
                              "e, M\xfcller\n"}
            << true << QStringLiteral("Stra\u00c3\u009fe, M\u00fcller\n");
        QTest::newRow("query outside Latin-1 sent as UTF-8")
            << QStringLiteral("m\u00fcnchen.\u0431\u0433")
            << QByteArray("m\xc3\xbcnchen.\xd0\xb1\xd0\xb3\r\n") << QByteArrayList{"% no match\n"} << true
            << "% no match\n";
        QTest::newRow("server never closes")
            << "example.com" << QByteArray("example.com\r\n")
            << QByteArrayList{"Domain Name: ", "EXAMPLE.COM\r\n"} << false << "";
        QTest::newRow("empty answer stays empty")
            << "example.com" << QByteArray("example.com\r\n") << QByteArrayList{} << true << "";
    }
    void answerShownWhenTheServerCloses()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArrayList, packets);
        QFETCH(bool, serverCloses);
        QFETCH(QString, shown);

        // A server that answered is no failure, whatever it answered.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("whois")));
        WhoisPeer whois;
        QPointer<frmWhois> window = new frmWhois(query);
        QCOMPARE(whois.acceptQuery(), sent);
        for (const QByteArray &packet : packets) {
            QVERIFY(deliver(whois, window, packet));
            QCOMPARE(window->text1->toPlainText(), QString()); // nothing shows before the end
        }
        if (serverCloses) {
            whois.peer->disconnectFromHost();
            QTRY_COMPARE_WITH_TIMEOUT(window->Winsock1->State(), 0, 5000);
            QCOMPARE(window->text1->toPlainText(), shown);
        } else {
            QTest::qWait(100);
            QCOMPARE(window->text1->toPlainText(), QString());
        }
        delete window;
    }

    void answerBound_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("serverCloses");
        QTest::addColumn<QString>("shown");
        const qsizetype bound = frmWhois::MaxAnswerLength;
        QByteArray lines(bound + 4096, 'x');
        for (qsizetype end = 63; end < lines.size(); end += 64)
            lines[end] = '\n';
        const QString linesShown = QString::fromLatin1(lines.left(bound));
        QTest::newRow("exactly the bound, then the server closes") << lines.left(bound) << true << linesShown;
        QTest::newRow("past the bound, the server goes on") << lines << false << linesShown;
        QTest::newRow("past the bound in one endless line")
            << QByteArray(bound + 4096, 'x') << false << QString(bound, QLatin1Char('x'));
        // The bound falls inside a three-byte character: the answer is still UTF-8, without that part.
        static_assert(frmWhois::MaxAnswerLength % 3 != 0);
        QTest::newRow("past the bound in UTF-8")
            << QString(bound / 3 + 100, QChar(0x20AC)).toUtf8() << false << QString(bound / 3, QChar(0x20AC));
    }
    void answerBound()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, serverCloses);
        QFETCH(QString, shown);

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
        QVERIFY(window->text1->toPlainText() == shown);
        delete window;
    }

    // A query without an answer says why where the answer would stand, and in the log.
    void failureShownInThePlaceOfTheAnswer_data()
    {
        QTest::addColumn<QString>("server");  // NETQUILL_WHOIS_HOST; empty: a local server that goes silent
        QTest::addColumn<QByteArray>("sent"); // what the local server sends before it goes silent
        QTest::addColumn<QString>("shown");   // a pattern
        QTest::addColumn<QString>("logged");  // a pattern; empty: nothing is logged as a failure

        const QString nobody = QStringLiteral("127.0.0.1:%1").arg(FreePort::pick());
        QTest::newRow("nobody listens") << nobody << QByteArray() << "^127\\.0\\.0\\.1: Connection refused$"
                                        << "^whois query to 127\\.0\\.0\\.1 failed: Connection refused$";
        // Offline, the resolver may give another reason than "Host not found"; the host comes first all
        // the same.
        QTest::newRow("host not found")
            << "whois.nonexistent.invalid" << QByteArray() << "^whois\\.nonexistent\\.invalid: \\S[^\\n]*$"
            << "^whois query to whois\\.nonexistent\\.invalid failed: ";
        QTest::newRow("silent server") << "" << QByteArray() << "^127\\.0\\.0\\.1: No answer within 0\\.3 s$"
                                       << "^whois query to 127\\.0\\.0\\.1 failed: No answer within 0\\.3 s$";
        QTest::newRow("part of an answer, then silence")
            << "" << QByteArray("Domain Name: EXAMPLE.COM\r\n") << "^Domain Name: EXAMPLE\\.COM\n$"
            << "";
    }
    void failureShownInThePlaceOfTheAnswer()
    {
        QFETCH(QString, server);
        QFETCH(QByteArray, sent);
        QFETCH(QString, shown);
        QFETCH(QString, logged);

        WhoisPeer whois;
        if (!server.isEmpty())
            qputenv("NETQUILL_WHOIS_HOST", server.toUtf8());
        if (!logged.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logged));
        else
            QTest::failOnWarning(QRegularExpression(QStringLiteral("failed")));
        QPointer<frmWhois> window = new frmWhois(QStringLiteral("example.com"));
        window->setTimeLimit(300);
        if (server.isEmpty()) {
            QCOMPARE(whois.acceptQuery(), QByteArray("example.com\r\n"));
            if (!sent.isEmpty())
                QVERIFY(deliver(whois, window, sent));
        }
        const QRegularExpression pattern(shown);
        QTRY_VERIFY2_WITH_TIMEOUT(pattern.match(window->text1->toPlainText()).hasMatch(),
                                  qPrintable(window->text1->toPlainText()), 20000);
        if (server.isEmpty())
            QVERIFY(whois.peerClosed()); // given up on, the connection is ended
        delete window;
    }

    void closingTheWindowEndsTheConnection_data()
    {
        QTest::addColumn<bool>("escape"); // else the close box
        QTest::newRow("close box") << false;
        QTest::newRow("Escape") << true;
    }
    void closingTheWindowEndsTheConnection()
    {
        QFETCH(bool, escape);
        WhoisPeer whois;
        QPointer<frmWhois> window = new frmWhois(QStringLiteral("example.com"));
        window->show();
        QCOMPARE(window->size(), QSize(549, 437));
        QCOMPARE(window->text1->geometry(), window->rect());
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(window);
        QVERIFY(accessible);
        QVERIFY2(accessible->role() == QAccessible::Dialog, qPrintable(QString::number(accessible->role())));
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("WHOIS Information"));
        QCOMPARE(whois.acceptQuery(), QByteArray("example.com\r\n"));
        QVERIFY(deliver(whois, window, "Domain Name: EXAMPLE.COM\r\n"));
        if (escape)
            QTest::keyClick(window->text1, Qt::Key_Escape); // the box has the focus, the window takes the key
        else
            window->close();
        QVERIFY(whois.peerClosed());
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
    }
};

NETQUILL_TEST(frmWhoisTest)
#include "frmWhoisTest.moc"

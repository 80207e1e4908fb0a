#include "SmtpSession.h"
#include "ExpectedNotification.h"
#include "MailSettings.h"
#include "ScriptedSmtpServer.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {
const QString NotAvailable = QStringLiteral("Error: Server or connection not available.");
const QString SenderRefused =
    QStringLiteral("Error: The sender address contains a line break or control character.");
const QString RecipientRefused =
    QStringLiteral("Error: The recipient address contains a line break or control character.");
const QString TooLong = QStringLiteral("Error: The server sent more than 64 KiB without ending its reply.");

QString timedOut(const QString &server)
{
    return "Error: Could not connect to " + server + " - timed out";
}

QStringList tickTexts(int from, int to)
{
    QStringList texts;
    for (int n = from; n <= to; ++n)
        texts << QStringLiteral("Connecting... (%1)").arg(n);
    return texts;
}

/// The session as the main window holds it, pointed at a scripted server, with its status line recorded.
struct Rig {
    Winsock socket;
    MailSettings settings{"to@example.com", "from@example.com", "127.0.0.1", "25"};
    SmtpMessageInputs inputs{"Netquill", "Velmora", "netquill.example.com", "203.0.113.7", "192.168.1.5"};
    SmtpSession session{&socket};
    QStringList statuses;

    Rig(quint16 port, int tickMs)
    {
        settings.strPort = QString::number(port);
        session.setTickInterval(tickMs);
        QObject::connect(&session, &SmtpSession::statusChanged,
                         [this](const QString &text) { statuses << text; });
    }
    QString last() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    /// Hands the edited settings and message over, as the model does after each edit.
    void apply()
    {
        session.setSettings(settings);
        session.setInputs(inputs);
    }
    void send()
    {
        apply();
        session.Send();
    }
};

// Long enough that no tick shows while a local dialogue runs.
constexpr int QuietTick = 5000;
// Short enough that a time-out of 30 ticks takes a fraction of a second.
constexpr int FastTick = 10;
// For tests that act in the middle of a wait: 30 ticks leave them a second and a half.
constexpr int MediumTick = 50;

const QStringList SuccessStatuses = {"Connecting...", "Connected", "Receiving Welcome Message",
                                     "Sending Mail . . .", "Message Sent"};
} // namespace

class SmtpSessionTest : public QObject {
    Q_OBJECT
private slots:
    void validation_data();
    void validation();
    void dialogue_data();
    void dialogue();
    void wrongReply_data();
    void wrongReply();
    void splitGreeting();
    void multiLineReply_data();
    void multiLineReply();
    void neverAnswers();
    void failureIsLoggedWithItsCause_data();
    void failureIsLoggedWithItsCause();
    void portText_data();
    void portText();
    void secondSendWhileRunning();
    void remoteCloseWaitsForTimeout();
    void leftoverBecomesNextReply();
    void settingsEditedMidSession();
    void addressEditedMidSession_data();
    void addressEditedMidSession();
    void replyLimit_data();
    void replyLimit();
    void nothingWaitsForTheEventLoop();
};

void SmtpSessionTest::validation_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("status");
    QTest::newRow("no server, rest present") << ""
                                             << "25"
                                             << "to@x"
                                             << "from@x"
                                             << "Error: Please Choose a Server First";
    QTest::newRow("no server, no port") << ""
                                        << ""
                                        << ""
                                        << ""
                                        << "Error: Please Choose a Server First";
    QTest::newRow("no port") << "127.0.0.1"
                             << ""
                             << "to@x"
                             << "from@x"
                             << "Error: Please enter an Server Port (Default: 25)";
    QTest::newRow("no recipient") << "127.0.0.1"
                                  << "*"
                                  << ""
                                  << "from@x"
                                  << "Error: Please enter an Email Address";
    QTest::newRow("recipient with line break") << "127.0.0.1"
                                               << "*"
                                               << "to@x\r\nDATA"
                                               << "from@x" << RecipientRefused;
    QTest::newRow("sender with line break") << "127.0.0.1"
                                            << "*"
                                            << "to@x"
                                            << "from@x\nRSET" << SenderRefused;
    QTest::newRow("sender with control character") << "127.0.0.1"
                                                   << "*"
                                                   << "to@x"
                                                   << "fr\x01om@x" << SenderRefused;
}

void SmtpSessionTest::validation()
{
    QFETCH(QString, server);
    QFETCH(QString, port);
    QFETCH(QString, recipient);
    QFETCH(QString, sender);
    QFETCH(QString, status);
    ScriptedSmtpServer smtp;
    QVERIFY(smtp.isListening());
    Rig rig(smtp.port(), FastTick);
    rig.settings = {recipient, sender, server, port == "*" ? QString::number(smtp.port()) : port};

    rig.send();
    QCOMPARE(rig.statuses, QStringList{status});
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QVERIFY(!rig.session.timerActive());
    QTest::qWait(100);
    QCOMPARE(smtp.connectionCount(), 0);
    QCOMPARE(rig.statuses.size(), 1);
}

namespace {
/// The notification as it must cross the wire for the rig's inputs, built line by line.
QByteArray expectedWire(const QByteArray &sender, const QByteArray &externalOnWire)
{
    return expectedNotification(sender, "to@example.com", externalOnWire, "192.168.1.5");
}
} // namespace

void SmtpSessionTest::dialogue_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("external");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("plain") << "from@example.com"
                           << "203.0.113.7" << expectedWire("from@example.com", "203.0.113.7");
    QTest::newRow("empty sender") << ""
                                  << "203.0.113.7" << expectedWire("", "203.0.113.7");
    QTest::newRow("address page with lone dot and bare LF")
        << "from@example.com"
        << "203.0.113.7\n.\n"
        << expectedWire("from@example.com", "203.0.113.7\r\n..\r\n");
    QTest::newRow("address page with bare CR and leading dots")
        << "from@example.com"
        << "a\r.b" << expectedWire("from@example.com", "a\r\n..b");
}

void SmtpSessionTest::dialogue()
{
    QFETCH(QString, sender);
    QFETCH(QString, external);
    QFETCH(QByteArray, wire);
    ScriptedSmtpServer smtp;
    Rig rig(smtp.port(), QuietTick);
    rig.settings.strEmailFrom = sender;
    rig.inputs.externalAddress = external;

    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
    QCOMPARE(rig.statuses, SuccessStatuses);
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QVERIFY(!rig.session.timerActive());
    QVERIFY(smtp.waitForDisconnect());
    const QList<QByteArray> expected = {"HELO " + Winsock::LocalHostName().toLatin1(),
                                        "MAIL FROM:<" + sender.toLatin1() + ">", "RCPT TO:<to@example.com>",
                                        "DATA", "QUIT"};
    QCOMPARE(smtp.commands(), expected);
    QCOMPARE(smtp.messageData(), wire);
    QCOMPARE(smtp.connectionCount(), 1);
}

void SmtpSessionTest::wrongReply_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("commandsSent");
    QTest::newRow("greeting 554") << ScriptedSmtpServer::Greeting << QByteArray("554 5.3.2 go away\r\n") << 0;
    QTest::newRow("greeting multi-line 421")
        << ScriptedSmtpServer::Greeting << QByteArray("421-busy\r\n421 try later\r\n") << 0;
    QTest::newRow("greeting code in second token")
        << ScriptedSmtpServer::Greeting << QByteArray("mail 220 ready\r\n") << 0;
    QTest::newRow("HELO 501") << QByteArray("HELO") << QByteArray("501 5.5.4 bad name\r\n") << 1;
    QTest::newRow("MAIL 550") << QByteArray("MAIL") << QByteArray("550 5.7.1 sender refused\r\n") << 2;
    QTest::newRow("RCPT 550") << QByteArray("RCPT") << QByteArray("550 5.1.1 no such user\r\n") << 3;
    QTest::newRow("RCPT 251 is not 250") << QByteArray("RCPT") << QByteArray("251 forwarded\r\n") << 3;
    QTest::newRow("DATA 250 is not 354") << QByteArray("DATA") << QByteArray("250 ok\r\n") << 4;
    QTest::newRow("message 554") << ScriptedSmtpServer::EndOfData << QByteArray("554 5.6.0 rejected\r\n")
                                 << 4;
}

void SmtpSessionTest::wrongReply()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, reply);
    QFETCH(int, commandsSent);
    ScriptedSmtpServer smtp;
    smtp.setReply(key, reply);
    Rig rig(smtp.port(), QuietTick);

    rig.send();
    const QString status = "Error: " + QString::fromLatin1(reply);
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), status, 5000);
    QVERIFY(smtp.waitForDisconnect());
    QCOMPARE(smtp.commands().size(), commandsSent);
    QVERIFY(!rig.statuses.contains("Message Sent"));
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QVERIFY(!rig.session.timerActive());
    QCOMPARE(rig.session.pendingReply(), QString());
}

void SmtpSessionTest::splitGreeting()
{
    ScriptedSmtpServer smtp;
    smtp.setReply(ScriptedSmtpServer::Greeting, {});
    Rig rig(smtp.port(), QuietTick);

    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Connected"), 5000);
    smtp.send("220 scripted.test ");
    QTest::qWait(150);
    QCOMPARE(rig.session.state(), SmtpSession::State::AwaitGreeting);
    QCOMPARE(rig.session.pendingReply(), QStringLiteral("220 scripted.test "));
    QVERIFY(smtp.commands().isEmpty());

    smtp.send("ESMTP ready\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
    QCOMPARE(rig.statuses, SuccessStatuses);
}

void SmtpSessionTest::multiLineReply_data()
{
    // The greeting arrives in the given pieces; then the HELO reply, also multi-line.
    QTest::addColumn<QByteArrayList>("greeting");
    QTest::newRow("one packet") << QByteArrayList{"220-first line\r\n220-second\r\n220 last\r\n"};
    QTest::newRow("split between lines")
        << QByteArrayList{"220-first line\r\n", "220-second\r\n220 last\r\n"};
    QTest::newRow("split in a line") << QByteArrayList{"220-first li", "ne\r\n220-",
                                                       "second\r\n220 last\r\n"};
    QTest::newRow("split in the line end") << QByteArrayList{"220-first line\r", "\n220 last\r", "\n"};
    QTest::newRow("final line of the code alone") << QByteArrayList{"220-first line\r\n", "220\r\n"};
}

void SmtpSessionTest::multiLineReply()
{
    QFETCH(QByteArrayList, greeting);
    ScriptedSmtpServer smtp;
    smtp.setReply(ScriptedSmtpServer::Greeting, {});
    smtp.setReply("HELO", "250-scripted.test\r\n250-SIZE 1000\r\n250 HELP\r\n");
    Rig rig(smtp.port(), QuietTick);

    rig.send();
    QVERIFY(smtp.waitForConnection());
    for (const QByteArray &piece : greeting) {
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.state(), SmtpSession::State::AwaitGreeting, 5000);
        QTest::qWait(30);
        QVERIFY2(smtp.commands().isEmpty(), "HELO went out before the whole greeting had arrived");
        smtp.send(piece);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
    QCOMPARE(rig.statuses, SuccessStatuses);
}

void SmtpSessionTest::neverAnswers()
{
    ScriptedSmtpServer smtp;
    smtp.setReply(ScriptedSmtpServer::Greeting, {});
    Rig rig(smtp.port(), FastTick);

    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), timedOut("127.0.0.1"), 5000);
    QVERIFY(smtp.waitForDisconnect());
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QVERIFY(!rig.session.timerActive());

    QStringList ticks = rig.statuses;
    QVERIFY(ticks.removeOne("Connected"));
    const QStringList expected =
        QStringList{"Connecting..."} + tickTexts(0, 29) + QStringList{timedOut("127.0.0.1")};
    QCOMPARE(ticks, expected);
    // The timer is really off: nothing more is reported.
    const qsizetype count = rig.statuses.size();
    QTest::qWait(10 * FastTick);
    QCOMPARE(rig.statuses.size(), count);
}

void SmtpSessionTest::failureIsLoggedWithItsCause_data()
{
    QTest::addColumn<QByteArray>("key"); // empty: nothing listens on the port
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("logged"); // patterns, in order
    QTest::newRow("connection refused")
        << QByteArray() << QByteArray()
        << QStringList{"while connecting: socket error: Connection refused$", "timed out while connecting"};
    QTest::newRow("server's error reply")
        << QByteArray("RCPT") << QByteArray("550 5.1.1 no such user\r\n")
        << QStringList{"failed while naming the recipient - refused: 550 5\\.1\\.1 no such user\\\\r\\\\n$"};
    QTest::newRow("no answer") << ScriptedSmtpServer::Greeting << QByteArray()
                               << QStringList{
                                      "timed out while waiting for the greeting \\(30 ticks of 10 ms\\)$"};
}

void SmtpSessionTest::failureIsLoggedWithItsCause()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, logged);
    ScriptedSmtpServer smtp;
    quint16 port = smtp.port();
    if (key.isEmpty()) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    } else {
        smtp.setReply(key, reply);
    }
    for (const QString &pattern : std::as_const(logged))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(pattern));
    Rig rig(port, FastTick);
    rig.send();
    QTRY_VERIFY_WITH_TIMEOUT(rig.last().startsWith("Error: "), 5000);
}

void SmtpSessionTest::portText_data()
{
    QTest::addColumn<QString>("portText"); // %1 stands for the scripted server's port
    QTest::addColumn<bool>("connects");
    QTest::newRow("digits then letters") << "%1abc" << true;
    QTest::newRow("digits then blank") << "%1 " << true;
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("zero") << "0" << false;
    QTest::newRow("beyond the port range") << "70000" << false;
}

void SmtpSessionTest::portText()
{
    QFETCH(QString, portText);
    QFETCH(bool, connects);
    ScriptedSmtpServer smtp;
    Rig rig(smtp.port(), connects ? QuietTick : FastTick);
    rig.settings.strPort = portText.contains("%1") ? portText.arg(smtp.port()) : portText;

    rig.send();
    if (connects) {
        QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
        QCOMPARE(smtp.connectionCount(), 1);
        return;
    }
    QCOMPARE(rig.statuses, (QStringList{"Connecting...", NotAvailable}));
    QVERIFY(rig.session.timerActive());
    // The attempt's timer still runs out and names the server.
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), timedOut("127.0.0.1"), 5000);
    const QStringList expected =
        QStringList{"Connecting...", NotAvailable} + tickTexts(0, 29) + QStringList{timedOut("127.0.0.1")};
    QCOMPARE(rig.statuses, expected);
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QCOMPARE(smtp.connectionCount(), 0);
}

void SmtpSessionTest::secondSendWhileRunning()
{
    ScriptedSmtpServer smtp;
    smtp.setReply(ScriptedSmtpServer::Greeting, {});
    Rig rig(smtp.port(), MediumTick);

    rig.send();
    QTRY_VERIFY_WITH_TIMEOUT(rig.statuses.contains("Connecting... (5)"), 5000);
    QCOMPARE(rig.session.state(), SmtpSession::State::AwaitGreeting);

    const qsizetype before = rig.statuses.size();
    rig.send();
    QCOMPARE(rig.statuses.mid(before), (QStringList{"Connecting...", NotAvailable}));
    QCOMPARE(rig.session.ticks(), 0);
    QCOMPARE(rig.session.state(), SmtpSession::State::AwaitGreeting);
    // The reset count lengthens the running wait: the next tick starts again from 0.
    QTRY_VERIFY_WITH_TIMEOUT(rig.statuses.size() > before + 2, 5000);
    QCOMPARE(rig.statuses.at(before + 2), QStringLiteral("Connecting... (0)"));

    smtp.send("220 late but fine\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
    QCOMPARE(smtp.connectionCount(), 1);
    // QUIT may still be on its way when "Message Sent" is shown.
    QTRY_COMPARE_WITH_TIMEOUT(smtp.commands().size(), 5, 5000);
}

void SmtpSessionTest::remoteCloseWaitsForTimeout()
{
    ScriptedSmtpServer smtp;
    smtp.setReply("HELO", {});
    Rig rig(smtp.port(), MediumTick);

    rig.send();
    QVERIFY(smtp.waitForCommand("HELO "));
    smtp.closeClient();
    QTRY_VERIFY_WITH_TIMEOUT(rig.socket.State() == 0, 5000);

    // The session does not notice the close; its socket is still taken until the time-out releases it.
    rig.send();
    QCOMPARE(rig.last(), NotAvailable);
    QCOMPARE(rig.session.state(), SmtpSession::State::AwaitHelo);
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), timedOut("127.0.0.1"), 5000);
    QCOMPARE(smtp.connectionCount(), 1);
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);

    // Released: the next send connects again.
    rig.session.setTickInterval(QuietTick);
    smtp.setReply("HELO", "250 hello\r\n");
    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
    QCOMPARE(smtp.connectionCount(), 2);
}

void SmtpSessionTest::leftoverBecomesNextReply()
{
    ScriptedSmtpServer smtp;
    smtp.setReply(ScriptedSmtpServer::Greeting, "554 left");
    Rig rig(smtp.port(), FastTick);

    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), timedOut("127.0.0.1"), 5000);
    QCOMPARE(rig.session.pendingReply(), QStringLiteral("554 left"));

    // The unfinished line leads the next session's greeting and decides its code.
    smtp.setReply(ScriptedSmtpServer::Greeting, "220 fresh\r\n");
    rig.session.setTickInterval(QuietTick);
    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Error: 554 left220 fresh\r\n"), 5000);
    QCOMPARE(smtp.connectionCount(), 2);
    QCOMPARE(rig.session.pendingReply(), QString());
}

void SmtpSessionTest::settingsEditedMidSession()
{
    ScriptedSmtpServer smtp;
    smtp.setReply("HELO", {});
    Rig rig(smtp.port(), QuietTick);

    rig.send();
    QVERIFY(smtp.waitForCommand("HELO "));
    rig.settings.strEmailFrom = "new-from@example.com";
    rig.settings.strEmailTo = "new-to@example.com";
    rig.inputs.programName = "Renamed";
    rig.inputs.externalAddress = "198.51.100.9";
    rig.apply();
    smtp.send("250 hello\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);

    QCOMPARE(smtp.commands().at(1), QByteArray("MAIL FROM:<new-from@example.com>"));
    QCOMPARE(smtp.commands().at(2), QByteArray("RCPT TO:<new-to@example.com>"));
    const QList<QByteArray> lines = smtp.messageData().split('\n');
    QCOMPARE(lines.size(), 16);
    // The header is composed at the DATA step, the body when the connection was made.
    QCOMPARE(lines.at(0), QByteArray("From: <new-from@example.com>\r"));
    QCOMPARE(lines.at(1), QByteArray("To: new-to@example.com\r"));
    QCOMPARE(lines.at(2), QByteArray("Subject: Renamed - Notification of IP Address Change\r"));
    QCOMPARE(lines.at(9), QByteArray("External IP Address: 203.0.113.7\r"));
    QCOMPARE(lines.at(14), QByteArray("Netquill by Velmora\r"));
}

void SmtpSessionTest::addressEditedMidSession_data()
{
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<bool>("sender");
    QTest::addColumn<int>("commandsSent");
    QTest::addColumn<QString>("status");
    QTest::newRow("sender before MAIL FROM") << QByteArray("HELO") << true << 1 << SenderRefused;
    QTest::newRow("recipient before RCPT TO") << QByteArray("MAIL") << false << 2 << RecipientRefused;
    QTest::newRow("recipient before the header") << QByteArray("DATA") << false << 4 << RecipientRefused;
    QTest::newRow("sender before the header") << QByteArray("DATA") << true << 4 << SenderRefused;
}

void SmtpSessionTest::addressEditedMidSession()
{
    QFETCH(QByteArray, held);
    QFETCH(bool, sender);
    QFETCH(int, commandsSent);
    QFETCH(QString, status);
    ScriptedSmtpServer smtp;
    const QByteArray reply = held == "DATA" ? "354 go ahead\r\n" : "250 ok\r\n";
    smtp.setReply(held, {});
    Rig rig(smtp.port(), QuietTick);

    rig.send();
    QVERIFY(smtp.waitForCommand(held));
    (sender ? rig.settings.strEmailFrom : rig.settings.strEmailTo) =
        "x@example.com>\r\nRCPT TO:<evil@example.com";
    rig.apply();
    smtp.send(reply);
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), status, 5000);
    QVERIFY(smtp.waitForDisconnect());
    QCOMPARE(smtp.commands().size(), commandsSent);
    QVERIFY(!smtp.received().contains("evil"));
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QVERIFY(!rig.session.timerActive());
}

void SmtpSessionTest::replyLimit_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("refused");
    QTest::newRow("exactly 64 KiB, then the line end") << SmtpSession::ReplyLimit << false;
    QTest::newRow("one byte more") << SmtpSession::ReplyLimit + 1 << true;
    QTest::newRow("a megabyte") << qsizetype(1024 * 1024) << true;
}

void SmtpSessionTest::replyLimit()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, refused);
    ScriptedSmtpServer smtp;
    smtp.setReply(ScriptedSmtpServer::Greeting, {});
    Rig rig(smtp.port(), QuietTick);

    rig.send();
    QVERIFY(smtp.waitForConnection());
    smtp.send("220 " + QByteArray(size - 4, 'x'));
    if (!refused) {
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.pendingReply().size(), size, 5000);
        QCOMPARE(rig.session.state(), SmtpSession::State::AwaitGreeting);
        smtp.send("\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), TooLong, 5000);
    QVERIFY(smtp.waitForDisconnect());
    QVERIFY(smtp.commands().isEmpty());
    QCOMPARE(rig.session.state(), SmtpSession::State::Idle);
    QVERIFY(!rig.session.timerActive());
    QCOMPARE(rig.session.pendingReply(), QString());

    // Nothing of the flood is left to spoil the next session.
    smtp.setReply(ScriptedSmtpServer::Greeting, "220 again\r\n");
    rig.send();
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
}

// In the program the session shares its thread with the windows: whatever waits for the next turn of
// the event loop waits behind the repaints that the status texts and everything else have queued. A
// queued call stands in for them here, and the peer reads the wire without letting the client run.
void SmtpSessionTest::nothingWaitsForTheEventLoop()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    Rig rig(server.serverPort(), QuietTick);
    QTcpSocket *peer = nullptr;
    // Whether the peer finds text ending so on the wire without the client's event loop running.
    auto onWire = [&peer](const QByteArray &ending) {
        QByteArray wire;
        const QDeadlineTimer deadline(2000);
        while (!wire.endsWith(ending) && peer->waitForReadyRead(int(deadline.remainingTime())))
            wire += peer->readAll();
        return wire.endsWith(ending);
    };
    const QHash<SmtpSession::State, QByteArray> reply = {
        {SmtpSession::State::AwaitHelo, "250 hello\r\n"},
        {SmtpSession::State::AwaitMailFrom, "250 ok\r\n"},
        {SmtpSession::State::AwaitRcptTo, "250 ok\r\n"},
        {SmtpSession::State::AwaitDataGo, "354 go on\r\n"},
        {SmtpSession::State::AwaitAccepted, "250 queued\r\n"}};
    bool loopTurned = false;
    QStringList late; // what was not on the wire when its state began
    QObject::connect(&rig.session, &SmtpSession::stateChanged, [&](SmtpSession::State state) {
        if (state == SmtpSession::State::AwaitGreeting)
            QMetaObject::invokeMethod(
                &server, [&loopTurned] { loopTurned = true; }, Qt::QueuedConnection);
        if (state == SmtpSession::State::AwaitHelo && loopTurned)
            late << "greeting read after queued work";
        if (state == SmtpSession::State::Idle && !onWire("QUIT\r\n")) {
            late << "QUIT";
        } else if (reply.contains(state)) {
            if (!onWire(state == SmtpSession::State::AwaitAccepted ? "\r\n.\r\n" : "\r\n"))
                late << QVariant::fromValue(state).toString();
            peer->write(reply.value(state));
            QVERIFY(peer->waitForBytesWritten(2000));
        }
    });

    rig.send();
    // The server greets at once, before the client has handled its connection.
    QVERIFY(server.waitForNewConnection(5000));
    peer = server.nextPendingConnection();
    peer->write("220 ready\r\n");
    QVERIFY(peer->waitForBytesWritten(2000));
    QTRY_COMPARE_WITH_TIMEOUT(rig.last(), QStringLiteral("Message Sent"), 5000);
    QCOMPARE(late, QStringList());
}

NETQUILL_TEST(SmtpSessionTest)
#include "SmtpSessionTest.moc"

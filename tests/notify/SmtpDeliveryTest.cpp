#include "ExpectedNotification.h"
#include "MailSender.h"
#include "MailSettings.h"
#include "RealSmtpServer.h"
#include "SmtpSession.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

/// The notification delivered to a real SMTP server (aiosmtpd): what arrives must be the sixteen lines,
/// whatever the address page held.
class SmtpDeliveryTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        NETQUILL_REQUIRE(RealSmtpServer::missing());
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
    }
    void cleanupTestCase() { m_server.stop(); }

    void delivered_data();
    void delivered();
    void deliveredWhileTheSenderIsBusy();

private:
    RealSmtpServer m_server;
    int m_sent = 0;
};

void SmtpDeliveryTest::delivered_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("external");
    QTest::addColumn<QByteArray>("externalLines"); // how line 10 reads once received
    QTest::newRow("normal address") << "ipwatch@example.com"
                                    << "203.0.113.7" << QByteArray("203.0.113.7");
    QTest::newRow("page with markup") << "ipwatch@example.com"
                                      << "<b>203.0.113.7</b>" << QByteArray("<b>203.0.113.7</b>");
    QTest::newRow("trailing line break") << "ipwatch@example.com"
                                         << "203.0.113.7\n"
                                         << QByteArray("203.0.113.7\r\n");
    QTest::newRow("line holding a dot") << "ipwatch@example.com"
                                        << "203.0.113.7\n.\nafter" << QByteArray("203.0.113.7\r\n.\r\nafter");
    QTest::newRow("dot line with CR LF and bare CR") << "ipwatch@example.com"
                                                     << ".\r\n..\rx" << QByteArray(".\r\n..\r\nx");
    QTest::newRow("empty sender") << ""
                                  << "203.0.113.7" << QByteArray("203.0.113.7");
}

void SmtpDeliveryTest::delivered()
{
    QFETCH(QString, sender);
    QFETCH(QString, external);
    QFETCH(QByteArray, externalLines);

    Winsock socket;
    MailSettings settings{"owner@example.com", sender, "127.0.0.1", QString::number(m_server.port())};
    const SmtpMessageInputs inputs{"Netquill", "Velmora", "netquill.example.com", external, "10.0.0.23"};
    SmtpSession session(&socket, settings, inputs);
    QStringList statuses;
    connect(&session, &SmtpSession::statusChanged, [&](const QString &text) { statuses << text; });

    session.Send();
    QTRY_VERIFY_WITH_TIMEOUT(statuses.contains("Message Sent") || statuses.last().startsWith("Error: "),
                             10000);
    QCOMPARE(statuses.last(), QStringLiteral("Message Sent"));
    ++m_sent;
    QVERIFY(m_server.waitForMessages(m_sent));
    QCOMPARE(m_server.messageCount(), m_sent);

    // The server keeps the line end of the last line, which the terminator supplied.
    const RealSmtpServer::Message message = m_server.message(m_sent);
    QCOMPARE(message.data,
             expectedNotification(sender.toLatin1(), "owner@example.com", externalLines, "10.0.0.23") +
                 "\r\n");
    // aiosmtpd records the null reverse-path as written.
    QCOMPARE(message.mailFrom, sender.isEmpty() ? QStringLiteral("<>") : sender);
    QCOMPARE(message.rcptTo, QStringList{"owner@example.com"});
}

void SmtpDeliveryTest::deliveredWhileTheSenderIsBusy()
{
    // The dialogue has a thread of its own: a sending thread busy with other work (here, running no
    // events at all) holds up neither the server nor the message.
    MailSender sender;
    sender.setSettings(MailSettings{"owner@example.com", "ipwatch@example.com", "127.0.0.1",
                                    QString::number(m_server.port())});
    sender.setInputs(SmtpMessageInputs{"Netquill", "Velmora", "example.com", "203.0.113.7", "10.0.0.23"});
    QStringList statuses;
    QList<MailResult> results;
    connect(&sender, &MailSender::statusChanged, this, [&](const QString &text) { statuses << text; });
    connect(&sender, &MailSender::finished, this, [&](const MailResult &result) { results << result; });

    const quint64 job = sender.Send();
    // What the send operation reports has arrived when it returns: the lookup's last word follows it.
    QCOMPARE(statuses, QStringList{"Connecting..."});
    QVERIFY(sender.busy());
    QElapsedTimer busy;
    busy.start();
    while (m_server.messageCount() == m_sent && busy.elapsed() < 10000)
        QThread::msleep(5);
    QCOMPARE(m_server.messageCount(), ++m_sent);

    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 5000);
    QCOMPARE(results.at(0).job, job);
    QVERIFY(results.at(0).started && results.at(0).sent);
    QCOMPARE(results.at(0).status, QStringLiteral("Message Sent"));
    QVERIFY(!sender.busy());
    QCOMPARE(statuses, (QStringList{"Connecting...", "Connected", "Receiving Welcome Message",
                                    "Sending Mail . . .", "Message Sent"}));
}

NETQUILL_TEST(SmtpDeliveryTest)
#include "SmtpDeliveryTest.moc"

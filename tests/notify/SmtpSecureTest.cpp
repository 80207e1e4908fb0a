#include "ExpectedNotification.h"
#include "MailSettings.h"
#include "RealSmtpServer.h"
#include "ScriptedSmtpServer.h"
#include "SmtpSession.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QSslConfiguration>
#include <QTest>

namespace {
using ServerTls = RealSmtpServer::Options::Tls;

QString tlsFile(const char *name)
{
    return QStringLiteral(NETQUILL_SOURCE_DIR "/tests/notify/tls/") + QLatin1String(name);
}

struct Client {
    Winsock socket;
    MailSettings settings{"owner@example.com", "ipwatch@example.com", "127.0.0.1", "25"};
    SmtpMessageInputs inputs{"Netquill", "Velmora", "netquill.example.com", "203.0.113.7", "10.0.0.23"};
    SmtpSession session{&socket};
    QStringList statuses;

    Client(quint16 port, const QString &security, const QString &user, const QString &password)
    {
        settings.strPort = QString::number(port);
        settings.strSecurity = security;
        settings.strUser = user;
        settings.strPassword = password;
        session.setSettings(settings);
        session.setInputs(inputs);
        QObject::connect(&session, &SmtpSession::statusChanged,
                         [this](const QString &text) { statuses << text; });
    }
    bool ended() const
    {
        return !statuses.isEmpty() &&
               (statuses.last() == "Message Sent" || statuses.last().startsWith("Error: "));
    }
};
} // namespace

/// The notification over a secured connection with a login, against a real server (aiosmtpd), and the
/// promise that credentials never cross a plain connection.
class SmtpSecureTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void realServer_data();
    void realServer();
    void noCredentialsInTheClear_data();
    void noCredentialsInTheClear();
};

void SmtpSecureTest::initTestCase()
{
    QVERIFY(Winsock::CanEncrypt());
    // The test authority stands in for one of the system's; the program itself trusts only those.
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const auto authority = QSslCertificate::fromPath(tlsFile("ca.pem"));
    QCOMPARE(authority.size(), 1);
    config.addCaCertificates(authority);
    QSslConfiguration::setDefaultConfiguration(config);
}

void SmtpSecureTest::realServer_data()
{
    QTest::addColumn<int>("serverTls");
    QTest::addColumn<QString>("certificate"); // "server" (trusted) or "untrusted"
    QTest::addColumn<QStringList>("excluded");
    QTest::addColumn<QString>("security");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("statuses"); // the last entry may end in "*": a prefix
    QTest::addColumn<QString>("login");        // as the server recorded it; "-": no message arrives

    const auto tls = [](ServerTls kind) { return int(kind); };
    const QStringList start{"Connecting...", "Connected", "Receiving Welcome Message"};
    QTest::newRow("STARTTLS, AUTH PLAIN")
        << tls(ServerTls::StartTls) << "server" << QStringList{} << "STARTTLS"
        << "s3cret"
        << start +
               QStringList{"Securing connection...", "Logging in...", "Sending Mail . . .", "Message Sent"}
        << "alice";
    QTest::newRow("SSL/TLS, AUTH LOGIN")
        << tls(ServerTls::AtOnce) << "server" << QStringList{"PLAIN"} << "ssl/tls"
        << "s3cret" << start + QStringList{"Logging in...", "Sending Mail . . .", "Message Sent"} << "alice";
    QTest::newRow("wrong password") << tls(ServerTls::StartTls) << "server" << QStringList{} << "STARTTLS"
                                    << "guess"
                                    << start +
                                           QStringList{
                                               "Securing connection...", "Logging in...",
                                               "Error: 535 5.7.8 Authentication credentials invalid\r\n"}
                                    << "-";
    QTest::newRow("STARTTLS, untrusted certificate")
        << tls(ServerTls::StartTls) << "untrusted" << QStringList{} << "STARTTLS"
        << "s3cret"
        << start + QStringList{"Securing connection...",
                               "Error: Could not secure the connection: The certificate is self-signed*"}
        << "-";
    QTest::newRow("SSL/TLS, untrusted certificate")
        << tls(ServerTls::AtOnce) << "untrusted" << QStringList{} << "SSL/TLS"
        << "s3cret" << QStringList{"Connecting...", "Error: Could not secure the connection: *"} << "-";
    QTest::newRow("SSL/TLS to a plain server")
        << tls(ServerTls::None) << "server" << QStringList{} << "SSL/TLS"
        << "s3cret" << QStringList{"Connecting...", "Error: Could not secure the connection: *"} << "-";
}

void SmtpSecureTest::realServer()
{
    QFETCH(int, serverTls);
    QFETCH(QString, certificate);
    QFETCH(QStringList, excluded);
    QFETCH(QString, security);
    QFETCH(QString, password);
    QFETCH(QStringList, statuses);
    QFETCH(QString, login);

    RealSmtpServer::Options options;
    options.tls = ServerTls(serverTls);
    options.certificate = tlsFile(qPrintable(certificate + ".pem"));
    options.key = tlsFile(qPrintable(certificate + ".key"));
    options.users = {{"alice", "s3cret"}};
    options.excludeMechanisms = excluded;
    NETQUILL_REQUIRE(RealSmtpServer::missing());
    RealSmtpServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));

    Client client(server.port(), security, "alice", password);
    client.session.Send();
    QTRY_VERIFY_WITH_TIMEOUT(client.ended(), 10000);
    QStringList seen = client.statuses;
    if (statuses.last().endsWith('*')) {
        const QString prefix = statuses.takeLast().chopped(1);
        QVERIFY2(seen.last().startsWith(prefix), qPrintable(seen.last()));
        seen.removeLast();
    }
    QCOMPARE(seen, statuses);

    if (login == "-") {
        QTest::qWait(200);
        QCOMPARE(server.messageCount(), 0);
        return;
    }
    QVERIFY(server.waitForMessages(1));
    const RealSmtpServer::Message message = server.message(1);
    QCOMPARE(message.login, login);
    QCOMPARE(message.data,
             expectedNotification("ipwatch@example.com", "owner@example.com", "203.0.113.7", "10.0.0.23") +
                 "\r\n");
}

void SmtpSecureTest::noCredentialsInTheClear_data()
{
    QTest::addColumn<QString>("security");
    QTest::addColumn<QByteArray>("ehloReply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("connections");
    QTest::newRow("STARTTLS asked for, not offered")
        << "STARTTLS" << QByteArray("250-scripted.test\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n")
        << "Error: The server does not offer STARTTLS, so the connection cannot be secured." << 1;
    QTest::newRow("user name without security")
        << "None" << QByteArray()
        << "Error: A user name is set, so the connection must be secured: choose STARTTLS or SSL/TLS." << 0;
    QTest::newRow("security setting names none")
        << "TLS please" << QByteArray()
        << "Error: Please choose the connection security: None, STARTTLS or SSL/TLS." << 0;
}

void SmtpSecureTest::noCredentialsInTheClear()
{
    QFETCH(QString, security);
    QFETCH(QByteArray, ehloReply);
    QFETCH(QString, status);
    QFETCH(int, connections);
    ScriptedSmtpServer smtp;
    smtp.setReply("EHLO", ehloReply);
    smtp.setReply("AUTH", "235 ok\r\n");

    Client client(smtp.port(), security, "alice", "s3cret");
    client.session.Send();
    QTRY_VERIFY_WITH_TIMEOUT(client.ended(), 5000);
    QCOMPARE(client.statuses.last(), status);
    if (connections)
        QVERIFY(smtp.waitForDisconnect());
    QTest::qWait(100);
    QCOMPARE(smtp.connectionCount(), connections);
    for (const QByteArray secret : {"s3cret", "czNjcmV0", "AUTH", "alice", "YWxpY2"})
        QVERIFY2(!smtp.received().contains(secret), smtp.received().constData());
}

NETQUILL_TEST(SmtpSecureTest)
#include "SmtpSecureTest.moc"

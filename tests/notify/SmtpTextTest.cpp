#include "SmtpMessage.h"
#include "SmtpReply.h"
#include "SmtpSession.h"
#include "TestMain.h"

#include <QTest>

/// The pure text rules of the notification: reply codes, port numbers and what goes over the wire.
class SmtpTextTest : public QObject {
    Q_OBJECT
private slots:
    void replyCode_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("code");
        QTest::newRow("plain") << "220 mail.test ESMTP\r\n" << 220;
        QTest::newRow("continuation") << "250-mail.test\r\n250 SIZE\r\n" << 250;
        QTest::newRow("no text") << "354\r\n" << 354;
        QTest::newRow("letters after the digits") << "250ok fine\r\n" << 250;
        QTest::newRow("leading blank") << " 250 ok\r\n" << 0;
        QTest::newRow("no digits") << "hello 250\r\n" << 0;
        QTest::newRow("digits only after the first blank") << "abc 220 x\r\n" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("huge number saturates") << "99999999999999999999 x" << std::numeric_limits<int>::max();
    }
    void replyCode()
    {
        QFETCH(QString, reply);
        QFETCH(int, code);
        QCOMPARE(SmtpReply::Code(reply), code);
    }

    void portNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("default") << "25" << 25;
        QTest::newRow("digits then letters") << "25abc" << 25;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("leading blank") << " 25" << 0;
        QTest::newRow("sign") << "+587" << 0;
        QTest::newRow("too large for a port") << "70000" << 70000;
        QTest::newRow("too large for an int") << "4294967321" << std::numeric_limits<int>::max();
    }
    void portNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        QCOMPARE(SmtpReply::LeadingNumber(text), port);
    }

    void transparentText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wire");
        QTest::newRow("untouched") << "a\r\nb"
                                   << "a\r\nb";
        QTest::newRow("bare LF") << "a\nb\n"
                                 << "a\r\nb\r\n";
        QTest::newRow("bare CR") << "a\rb"
                                 << "a\r\nb";
        QTest::newRow("LF CR is two breaks") << "a\n\rb"
                                             << "a\r\n\r\nb";
        QTest::newRow("lone dot line") << "a\r\n.\r\nb"
                                       << "a\r\n..\r\nb";
        QTest::newRow("dot after bare LF") << "a\n.\nb"
                                           << "a\r\n..\r\nb";
        QTest::newRow("leading dot at start") << ".x"
                                              << "..x";
        QTest::newRow("dots inside a line") << "a.b..c"
                                            << "a.b..c";
        QTest::newRow("two dots at line start") << "x\n..y"
                                                << "x\r\n...y";
        QTest::newRow("markup") << "<b>203.0.113.7</b>"
                                << "<b>203.0.113.7</b>";
    }
    void transparentText()
    {
        QFETCH(QString, text);
        QFETCH(QString, wire);
        QCOMPARE(SmtpMessage::ToTransparentText(text), wire);
    }

    void controlCharacters_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain") << "me@example.com" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank and umlaut") << QStringLiteral("J\u00f6rg <j@example.com>") << false;
        QTest::newRow("CR LF") << "me@example.com\r\nRCPT TO:<x@y>" << true;
        QTest::newRow("LF") << "me@example.com\n" << true;
        QTest::newRow("CR") << "me\r@example.com" << true;
        QTest::newRow("NUL") << QString(QChar(0)) + "me@example.com" << true;
        QTest::newRow("tab") << "me\t@example.com" << true;
        QTest::newRow("DEL") << "me\x7f@example.com" << true;
        QTest::newRow("C1 NEL") << QStringLiteral("me\u0085@example.com") << true;
        QTest::newRow("line separator") << QStringLiteral("me\u2028@example.com") << true;
    }
    void controlCharacters()
    {
        QFETCH(QString, address);
        QFETCH(bool, refused);
        QCOMPARE(SmtpMessage::HasControlCharacter(address), refused);
    }

    void loginMethods_data()
    {
        QTest::addColumn<QString>("ehloReply");
        QTest::addColumn<QStringList>("mechanisms");
        QTest::newRow("usual") << "250-mx.test\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n"
                               << QStringList{"PLAIN", "LOGIN"};
        QTest::newRow("older form, lower case") << "250-mx.test\r\n250-auth=login\r\n250 8BITMIME\r\n"
                                                << QStringList{"LOGIN"};
        QTest::newRow("greeting line names AUTH, no extension does") << "250 mx.test AUTH PLAIN\r\n"
                                                                     << QStringList{};
        QTest::newRow("AUTHX is another extension") << "250-mx.test\r\n250 AUTHX PLAIN\r\n" << QStringList{};
    }
    void loginMethods()
    {
        QFETCH(QString, ehloReply);
        QFETCH(QStringList, mechanisms);
        QCOMPARE(SmtpReply::AuthMechanisms(SmtpReply::Extensions(ehloReply)), mechanisms);
    }

    void messageHasSixteenLines()
    {
        const SmtpMessageInputs in{"Netquill", "Velmora", "netquill.example.com", "203.0.113.7",
                                   "192.168.1.5"};
        const QString text = SmtpMessage::Header("a@b", "c@d", in.programName) + SmtpMessage::Body(in);
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 16);
        QCOMPARE(lines.at(6), QString());
        QCOMPARE(lines.at(15), QStringLiteral("http://www.netquill.example.com"));
    }
};

NETQUILL_TEST(SmtpTextTest)
#include "SmtpTextTest.moc"

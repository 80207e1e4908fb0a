#include "NginxServer.h"
#include "ProcessStop.h"
#include "RealSmtpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"
#include "XvfbDisplay.h"

#include <QProcess>
#include <QTest>

/// The real program on a virtual display, with a real nginx page and a real SMTP server.
class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void changedAddressIsMailedOnceAndStored()
    {
        NETQUILL_REQUIRE(NginxServer::missing());
        NETQUILL_REQUIRE(RealSmtpServer::missing());
        NETQUILL_REQUIRE(XvfbDisplay::missing());
        TempSettings temp;
        NginxServer nginx;
        QVERIFY2(nginx.start(QStringLiteral(NETQUILL_SOURCE_DIR "/deploy/netquill-external-ip.conf")),
                 qPrintable(nginx.error()));
        RealSmtpServer smtp;
        QString error;
        QVERIFY2(smtp.start(&error), qPrintable(error));
        XvfbDisplay xvfb;
        QVERIFY2(xvfb.start(), qPrintable(xvfb.error()));

        {
            SettingsStore store(QStringLiteral("Netquill"));
            store.SaveSetting(SettingKeys::OldExternal, QStringLiteral("198.51.100.1"));
            store.SaveSetting(SettingKeys::OldInternal, Winsock::LocalIP());
            store.SaveSetting(SettingKeys::EmailNotify, QStringLiteral("1"));
            store.SaveSetting(SettingKeys::ShowHelp, QStringLiteral("0"));
            store.SaveSetting(SettingKeys::Server, QStringLiteral("127.0.0.1"));
            store.SaveSetting(SettingKeys::Port, QString::number(smtp.port()));
            store.SaveSetting(SettingKeys::EmailTo, QStringLiteral("owner@example.com"));
            store.SaveSetting(SettingKeys::EmailFrom, QStringLiteral("netquill@example.com"));
        }

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), xvfb.display());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), temp.path());
        env.insert(QStringLiteral("NETQUILL_IP_HOST"), nginx.hostPort());
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/netquill"), {});
        QVERIFY(program.waitForStarted(5000));

        QVERIFY2(smtp.waitForMessages(1, 30000), "no message arrived");
        const RealSmtpServer::Message message = smtp.message(1);
        QCOMPARE(message.mailFrom, QStringLiteral("netquill@example.com"));
        QCOMPARE(message.rcptTo, QStringList{QStringLiteral("owner@example.com")});
        QVERIFY(message.data.contains("\r\nExternal IP Address: 127.0.0.1\r\n"));
        QVERIFY(message.data.contains("\r\nInternal IP Address: " + Winsock::LocalIP().toLatin1() + "\r\n"));

        QCOMPARE(smtp.messageCount(), 1);
        QCOMPARE(program.state(), QProcess::Running);
        // SIGTERM right after the message: the program ends cleanly, and the notice counts as sent.
        program.terminate();
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("127.0.0.1"));
        QCOMPARE(store.GetSetting(SettingKeys::NotifyPending), QStringLiteral("0"));
    }
};

NETQUILL_TEST(ProgramTest)
#include "ProgramTest.moc"

#include "MailSettings.h"
#include "Module6464.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QFile>
#include <QProcess>
#include <QTest>

class SettingsStoreTest : public QObject {
    Q_OBJECT
private slots:
    void defaultsOnAnEmptyStore()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        for (const auto &key : SettingKeys::All)
            QCOMPARE(store.GetSetting(key), QString::fromUtf8(key.defaultValue));
        QCOMPARE(store.GetSetting(SettingKeys::ShowHelp), QStringLiteral("1"));
        QCOMPARE(store.GetSetting(SettingKeys::Port), QStringLiteral("25"));
        QVERIFY(store.keys().isEmpty());

        MailSettings mail;
        Module6464::LoadMailSettings(store, mail);
        QCOMPARE(mail.strPort, QStringLiteral("25"));
        QCOMPARE(mail.strServer, QString::fromUtf8(SettingKeys::Server.defaultValue));
        QCOMPARE(mail.strEmailTo, QString::fromUtf8(SettingKeys::EmailTo.defaultValue));
        QCOMPARE(mail.strEmailFrom, QString::fromUtf8(SettingKeys::EmailFrom.defaultValue));
        QVERIFY(store.keys().isEmpty()); // reading writes nothing
    }

    void verbatimRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("trailing spaces") << QStringLiteral("203.0.113.7  ");
        QTest::newRow("leading space") << QStringLiteral(" 1");
        QTest::newRow("empty") << QString();
        QTest::newRow("markup") << QStringLiteral("<b>203.0.113.7</b>");
        QTest::newRow("line breaks") << QStringLiteral("203.0.113.7\r\n\n");
        QTest::newRow("commas") << QStringLiteral("a, b,c");
        QTest::newRow("quotes and backslashes") << QStringLiteral("\"C:\\x\" ;#=");
        QTest::newRow("looks like a Qt type") << QStringLiteral("@Variant(abc)");
        QTest::newRow("at sign") << QStringLiteral("@");
        QTest::newRow("non-ASCII") << QStringLiteral("adrès ü 日本");
        QTest::newRow("number text") << QStringLiteral("007");
        QTest::newRow("boolean word") << QStringLiteral("true");
    }
    void verbatimRoundTrip()
    {
        QFETCH(QString, value);
        TempSettings temp;
        {
            SettingsStore store(QStringLiteral("Netquill"));
            store.SaveSetting(SettingKeys::OldExternal, value);
            QCOMPARE(store.GetSetting(SettingKeys::OldExternal), value);
        }
        SettingsStore reopened(QStringLiteral("Netquill"));
        QCOMPARE(reopened.GetSetting(SettingKeys::OldExternal), value);
        QCOMPARE(reopened.keys(), QStringList{QStringLiteral("OldExternal")});
    }

    void storeLivesInTheUsersConfigFolder()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSetting(SettingKeys::Refresh, QStringLiteral("1"));
        QCOMPARE(store.fileName(), temp.path() + QStringLiteral("/Netquill/Netquill.conf"));
        QVERIFY(QFile::exists(store.fileName()));
    }

    void killRightAfterAWriteLosesNothing()
    {
        TempSettings temp;
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"));
        writer.setArguments({QStringLiteral("OldExternal"), QStringLiteral("198.51.100.23 ")});
        writer.start();
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("198.51.100.23 "));
    }

    void wholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -99: not a whole number
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("leading zero") << "01" << 1;
        QTest::newRow("spaces") << " 4 " << 4;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("empty") << "" << -99;
        QTest::newRow("word") << "yes" << -99;
        QTest::newRow("fraction") << "1.5" << -99;
        QTest::newRow("trailing letters") << "2x" << -99;
    }
    void wholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto value = SettingsStore::toWholeNumber(text);
        QCOMPARE(value.value_or(-99), expected);
    }
};

NETQUILL_TEST(SettingsStoreTest)
#include "SettingsStoreTest.moc"

#include "frmConfigure.h"
#include "FileReplacements.h"
#include "MailSettings.h"
#include "SettingsStore.h"
#include "SmtpSession.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {
MailSettings defaults()
{
    return {SettingKeys::EmailTo.defaultValue, SettingKeys::EmailFrom.defaultValue,
            SettingKeys::Server.defaultValue, SettingKeys::Port.defaultValue};
}
} // namespace

/// The mail server configuration window: every edit reaches the store and the in-memory settings at once.
class frmConfigureTest : public QObject {
    Q_OBJECT
private slots:
    void loadFillsAndWritesBackChangedBoxes_data();
    void loadFillsAndWritesBackChangedBoxes();
    void typingStoresAtOnce_data();
    void typingStoresAtOnce();
    void typingIsWrittenOnceItPauses();
    void failedSaveShowsInTheWindow();
    void tabOrder();
    void sendTestRunsTheSendOperation();
    void clearedServerReportsMissingServer();
    void closingDestroysTheWindow();
};

void frmConfigureTest::loadFillsAndWritesBackChangedBoxes_data()
{
    QTest::addColumn<MailSettings>("before");
    QTest::addColumn<QStringList>("writtenKeys");
    QTest::newRow("fresh installation") << defaults() << QStringList{};
    MailSettings port = defaults();
    port.strPort = "2525";
    QTest::newRow("port changed") << port << QStringList{"strPort"};
    MailSettings emptyServer = defaults();
    emptyServer.strServer = "";
    QTest::newRow("server cleared") << emptyServer << QStringList{"strServer"};
    const MailSettings all{"me@home.test", "", "smtp.home.test", "587"};
    QTest::newRow("all changed") << all << QStringList{"strEmailFrom", "strEmailTo", "strPort", "strServer"};
}

void frmConfigureTest::loadFillsAndWritesBackChangedBoxes()
{
    QFETCH(MailSettings, before);
    QFETCH(QStringList, writtenKeys);
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(before);

    frmConfigure window(store, settings, nullptr, {});
    QCOMPARE(window.txtServer->text(), before.strServer);
    QCOMPARE(window.txtPort->text(), before.strPort);
    QCOMPARE(window.txtEmailTo->text(), before.strEmailTo);
    QCOMPARE(window.txtEmailFrom->text(), before.strEmailFrom);

    QStringList keys = store.keys();
    keys.sort();
    QCOMPARE(keys, writtenKeys);
    QCOMPARE(store.GetSetting("strServer", "<none>"),
             writtenKeys.contains("strServer") ? before.strServer : "<none>");
    QCOMPARE(store.GetSetting("strPort", "<none>"),
             writtenKeys.contains("strPort") ? before.strPort : "<none>");
    QCOMPARE(settings.get().strServer, before.strServer);
    QCOMPARE(settings.get().strEmailFrom, before.strEmailFrom);
}

void frmConfigureTest::typingStoresAtOnce_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("key");
    QTest::newRow("server") << "txtServer"
                            << "strServer";
    QTest::newRow("port") << "txtPort"
                          << "strPort";
    QTest::newRow("recipient") << "txtEmailTo"
                               << "strEmailTo";
    QTest::newRow("sender") << "txtEmailFrom"
                            << "strEmailFrom";
    QTest::newRow("user") << "txtUser"
                          << "strUser";
}

void frmConfigureTest::typingStoresAtOnce()
{
    QFETCH(QString, box);
    QFETCH(QString, key);
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(defaults());
    frmConfigure window(store, settings, nullptr, {});
    window.show();
    auto *edit = window.findChild<QLineEdit *>(box);
    QVERIFY(edit);
    const auto field = [&]() -> QString {
        if (key == "strServer")
            return settings.get().strServer;
        if (key == "strPort")
            return settings.get().strPort;
        if (key == "strEmailTo")
            return settings.get().strEmailTo;
        if (key == "strUser")
            return settings.get().strUser;
        return settings.get().strEmailFrom;
    };

    edit->setFocus();
    edit->end(false);
    QTest::keyClick(edit, Qt::Key_7);
    const QString typed = edit->text();
    QVERIFY(typed.endsWith('7'));
    // A partly typed value is stored as typed, in the store (read back through a second handle) and in
    // memory.
    QCOMPARE(SettingsStore("Netquill").GetSetting(key, "<none>"), typed);
    QCOMPARE(field(), typed);

    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(SettingsStore("Netquill").GetSetting(key, "<none>"), QString());
    QCOMPARE(field(), QString());
    QCOMPARE(store.keys(), QStringList{key});
}

void frmConfigureTest::typingIsWrittenOnceItPauses()
{
    TempSettings temp;
    SettingsStore store("Netquill");
    store.SaveSetting(SettingKeys::Refresh, "0"); // the folder to watch
    QVERIFY(store.WaitForWrites());
    FileReplacements replacements(store.fileName());
    if (!replacements.supported())
        QSKIP("needs inotify");
    SharedMailSettings settings(defaults());
    frmConfigure window(store, settings, nullptr, {});
    window.txtServer->clear();
    // Keys at a brisk typist's pace: far enough apart for a write after each.
    QTest::keyClicks(window.txtServer, "smtp.example.org", Qt::NoModifier, 30);
    QCOMPARE(replacements.renamedOver(), 0); // a save per key, but no write yet
    const auto fileHolds = [&](const QByteArray &line) {
        QFile file(store.fileName());
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(line);
    };
    QTRY_VERIFY_WITH_TIMEOUT(fileHolds("strServer=" + window.txtServer->text().toUtf8() + "\n"), 5000);
    QCOMPARE(replacements.renamedOver(), 1);
}

void frmConfigureTest::failedSaveShowsInTheWindow()
{
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(defaults());
    frmConfigure window(store, settings, nullptr, {});
    window.show();
    // A settings file too large to be read whole is never rewritten.
    {
        QFile file(store.fileName());
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(17 << 20));
    }
    QTest::keyClicks(window.txtPort, "7");
    QVERIFY(!store.WaitForWrites());
    QTRY_VERIFY_WITH_TIMEOUT(window.lblSaveFailure && window.lblSaveFailure->isVisible(), 2000);
    QCOMPARE(window.lblSaveFailure->toolTip(),
             QStringLiteral("Error: Settings not saved: Netquill.conf is larger than 16 MiB"));
    QCOMPARE(store.GetSetting(SettingKeys::Port), QStringLiteral("257")); // kept for the next save

    // Once a save gets through, the kept value with it, the line goes.
    QVERIFY(QFile::remove(store.fileName()));
    QTest::keyClicks(window.txtPort, "8");
    QVERIFY(store.WaitForWrites());
    QTRY_VERIFY_WITH_TIMEOUT(window.lblSaveFailure->isHidden(), 2000);
    QFile file(store.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("strPort=2578\n"));
}

void frmConfigureTest::tabOrder()
{
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(defaults());
    frmConfigure window(store, settings, nullptr, {});
    const QList<QWidget *> expected = {window.txtServer,    window.txtPort,     window.txtEmailTo,
                                       window.txtEmailFrom, window.cmbSecurity, window.txtUser,
                                       window.txtPassword,  window.cmdSend};
    QWidget *w = window.txtServer;
    for (qsizetype i = 1; i < expected.size(); ++i) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        QCOMPARE(w, expected.at(i));
    }
    QCOMPARE(window.windowTitle(), QStringLiteral("Mail Server Configuration"));
}

void frmConfigureTest::sendTestRunsTheSendOperation()
{
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(defaults());
    int calls = 0;
    frmConfigure window(store, settings, nullptr, [&] { ++calls; });
    QCOMPARE(calls, 0);
    QTest::mouseClick(window.cmdSend, Qt::LeftButton);
    QCOMPARE(calls, 1);
}

void frmConfigureTest::clearedServerReportsMissingServer()
{
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(defaults());
    Winsock socket;
    SmtpSession session(
        &socket, [&settings] { return settings.get(); }, [] { return SmtpMessageInputs{}; });
    QStringList statuses;
    connect(&session, &SmtpSession::statusChanged, [&](const QString &text) { statuses << text; });
    frmConfigure window(store, settings, nullptr, [&] { session.Send(); });

    window.txtServer->clear();
    QTest::mouseClick(window.cmdSend, Qt::LeftButton);
    QCOMPARE(statuses, QStringList{"Error: Please Choose a Server First"});

    window.txtServer->setText("127.0.0.1");
    window.txtPort->clear();
    QTest::mouseClick(window.cmdSend, Qt::LeftButton);
    QCOMPARE(statuses.last(), QStringLiteral("Error: Please enter an Server Port (Default: 25)"));
    QCOMPARE(session.state(), SmtpSession::State::Idle);
}

void frmConfigureTest::closingDestroysTheWindow()
{
    TempSettings temp;
    SettingsStore store("Netquill");
    SharedMailSettings settings(defaults());
    QPointer<frmConfigure> window = new frmConfigure(store, settings, nullptr, {});
    window->show();
    window->txtPort->setText("26");
    QVERIFY(window->close());
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 2000);
    QCOMPARE(settings.get().strPort, QStringLiteral("26"));

    // Opened again, it shows what was typed before.
    window = new frmConfigure(store, settings, nullptr, {});
    QCOMPARE(window->txtPort->text(), QStringLiteral("26"));
    delete window;
}

NETQUILL_TEST(frmConfigureTest)
#include "frmConfigureTest.moc"

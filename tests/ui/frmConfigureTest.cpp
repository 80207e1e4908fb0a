#include "frmConfigure.h"
#include "AddressMonitor.h"
#include "FileReplacements.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"

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

/// The model over a settings file of its own, its mail settings as given.
struct Rig {
    TempSettings temp;
    SettingsStore store{"Netquill"};
    AddressMonitor monitor{store};

    explicit Rig(const MailSettings &before = defaults())
    {
        const MailSettings fresh = defaults();
        const auto keep = [this](const SettingKeys::Key &key, const QString &value, const QString &design) {
            if (value != design)
                store.SaveSetting(key, value);
        };
        keep(SettingKeys::EmailTo, before.strEmailTo, fresh.strEmailTo);
        keep(SettingKeys::EmailFrom, before.strEmailFrom, fresh.strEmailFrom);
        keep(SettingKeys::Server, before.strServer, fresh.strServer);
        keep(SettingKeys::Port, before.strPort, fresh.strPort);
        monitor.Load();
    }
};
} // namespace

/// The mail server configuration window: every edit reaches the store and the model's settings at once.
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
    Rig rig(before);
    SettingsStore &store = rig.store;
    frmConfigure window(rig.monitor, {});
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
    QCOMPARE(rig.monitor.mailSettings().strServer, before.strServer);
    QCOMPARE(rig.monitor.mailSettings().strEmailFrom, before.strEmailFrom);
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
    Rig rig;
    SettingsStore &store = rig.store;
    frmConfigure window(rig.monitor, {});
    window.show();
    const MailSettings &settings = rig.monitor.mailSettings();
    auto *edit = window.findChild<QLineEdit *>(box);
    QVERIFY(edit);
    const auto field = [&]() -> QString {
        if (key == "strServer")
            return settings.strServer;
        if (key == "strPort")
            return settings.strPort;
        if (key == "strEmailTo")
            return settings.strEmailTo;
        if (key == "strUser")
            return settings.strUser;
        return settings.strEmailFrom;
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
    Rig rig;
    SettingsStore &store = rig.store;
    store.SaveSetting(SettingKeys::Refresh, "0"); // the folder to watch
    QVERIFY(store.WaitForWrites());
    FileReplacements replacements(store.fileName());
    if (!replacements.supported())
        QSKIP("needs inotify");
    frmConfigure window(rig.monitor, {});
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
    Rig rig;
    SettingsStore &store = rig.store;
    frmConfigure window(rig.monitor, {});
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
    Rig rig;
    frmConfigure window(rig.monitor, {});
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
    Rig rig;
    int calls = 0;
    frmConfigure window(rig.monitor, [&] { ++calls; });
    QCOMPARE(calls, 0);
    QTest::mouseClick(window.cmdSend, Qt::LeftButton);
    QCOMPARE(calls, 1);
}

void frmConfigureTest::clearedServerReportsMissingServer()
{
    Rig rig;
    QStringList statuses;
    connect(&rig.monitor, &AddressMonitor::statusChanged, [&](const QString &text) { statuses << text; });
    frmConfigure window(rig.monitor, [&] { rig.monitor.SendMail(); });

    window.txtServer->clear();
    QTest::mouseClick(window.cmdSend, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(statuses, QStringList{"Error: Please Choose a Server First"}, 5000);

    window.txtServer->setText("127.0.0.1");
    window.txtPort->clear();
    QTest::mouseClick(window.cmdSend, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(statuses.size(), 2, 5000);
    QCOMPARE(statuses.last(), QStringLiteral("Error: Please enter an Server Port (Default: 25)"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor.mailBusy(), 5000);
}

void frmConfigureTest::closingDestroysTheWindow()
{
    Rig rig;
    QPointer<frmConfigure> window = new frmConfigure(rig.monitor, {});
    window->show();
    window->txtPort->setText("26");
    QVERIFY(window->close());
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 2000);
    QCOMPARE(rig.monitor.mailSettings().strPort, QStringLiteral("26"));

    // Opened again, it shows what was typed before.
    window = new frmConfigure(rig.monitor, {});
    QCOMPARE(window->txtPort->text(), QStringLiteral("26"));
    delete window;
}

NETQUILL_TEST(frmConfigureTest)
#include "frmConfigureTest.moc"

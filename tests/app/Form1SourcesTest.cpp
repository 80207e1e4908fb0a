#include "Form1Rig.h"
#include "FreePort.h"
#include "NetworkNamespace.h"
#include "PageFetcher.h"
#include "SkinLabel.h"
#include "TestMain.h"
#include "Winsock.h"
#include "frmChangeCommand.h"
#include "frmChannelEdit.h"
#include "frmChannels.h"
#include "frmHistory.h"
#include "frmSources.h"
#include "modTaskbar.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QTreeWidget>

namespace {
const QString ServiceAddress = QStringLiteral("203.0.113.5");
const QString PageAddress = QStringLiteral("203.0.113.7"); // what the rig's product page answers

/// Waits for the load's lookup and the overlay's second one.
bool lookupsDone(Rig &rig)
{
    return rig.lookupFinished() && QTest::qWaitFor([&] { return rig.ended == rig.lookups; }, 5000);
}
} // namespace

class Form1SourcesTest : public QObject {
    Q_OBJECT
private slots:
    // The window's Test runs what is typed (and stored) with the addresses shown.
    void theCommandWindowTestsWithTheAddressesShown()
    {
        Rig rig;
        QTemporaryDir dir;
        QFile script(dir.filePath(QStringLiteral("seen.sh")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "printf '%s %s' \"$NETQUILL_OLD_EXTERNAL\" \"$NETQUILL_EXTERNAL\" > \"$1\"\n"
                     "echo said\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString seen = dir.filePath(QStringLiteral("seen.txt"));
        const QString command = script.fileName() + QLatin1Char(' ') + seen;
        Form1 &w = rig.load();
        QVERIFY(lookupsDone(rig));

        const QList<QAction *> actions = w.mnuAction->actions();
        QCOMPARE(actions.indexOf(w.mnuChangeCommand), actions.indexOf(w.mnuHistory) + 1);
        w.mnuChangeCommand->trigger();
        QPointer<frmChangeCommand> dialog = w.changeCommandWindow();
        QVERIFY(dialog && dialog->isVisible());
        dialog->cmdTest->click();
        QCOMPARE(dialog->lblResult->text(), QStringLiteral("Not run: the command line is empty"));
        QTest::keyClicks(dialog->txtCommand, command);
        QCOMPARE(rig.store->GetSetting(SettingKeys::ChangeCommand), command);
        dialog->cmdTest->click();
        QCOMPARE(dialog->lblResult->text(), QStringLiteral("Running with ") + PageAddress + "...");
        QVERIFY(!dialog->cmdTest->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dialog->lblResult->text(), ChangeCommand::StatusFinished, 10000);
        QCOMPARE(dialog->txtOutput->toPlainText(), QStringLiteral("said\n"));
        QVERIFY(dialog->cmdTest->isEnabled());
        QFile file(seen);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), (PageAddress + QLatin1Char(' ') + PageAddress).toUtf8());
        rig.window.reset();
        QVERIFY(dialog.isNull());
    }

    // A channel added in its window answers its Test there, and the next change reaches it without a
    // restart; the e-mail's switch has no say over it.
    void aChannelAddedInItsWindowHearsTheNextChange()
    {
        Rig rig;
        ScriptedHttpServer peer;
        peer.setResponse("/hook", Response::ok("{}"));
        Form1 &w = rig.load();
        QVERIFY(lookupsDone(rig));
        QCOMPARE(w.mnuAction->actions().last(), w.mnuChannels);
        w.mnuChannels->trigger();
        QPointer<frmChannels> window = w.channelsWindow();
        QVERIFY(window && window->isVisible());
        QTimer::singleShot(0, this, [&] {
            auto *edit = qobject_cast<frmChannelEdit *>(QApplication::activeModalWidget());
            QVERIFY(edit);
            edit->cboKind->setCurrentIndex(edit->cboKind->findText(QStringLiteral("Webhook")));
            QTest::keyClicks(edit->txtName, QStringLiteral("hook"));
            QTest::keyClicks(edit->txtUrl, peer.url(QStringLiteral("/hook")).toString());
            edit->cmdButtons->button(QDialogButtonBox::Ok)->click();
        });
        window->cmdAdd->click();
        QCOMPARE(window->lstChannels->topLevelItemCount(), 1);
        window->cmdTest->click();
        QTRY_COMPARE_WITH_TIMEOUT(window->lblResult->text(), QStringLiteral("Test through hook: delivered."),
                                  5000);

        rig.server.setResponse(PagePath, Response::ok("203.0.113.9"));
        w.Command1_Click();
        QVERIFY(rig.lookupFinished());
        QTRY_COMPARE_WITH_TIMEOUT(peer.requestsFor("/hook").size(), 2, 5000);
        QStringList events;
        for (const auto &request : peer.requestsFor("/hook")) {
            const QJsonObject sent =
                QJsonDocument::fromJson(request.raw.mid(request.raw.indexOf("\r\n\r\n") + 4)).object();
            events.append(
                sent.value(QLatin1String("event")).toString() + u' ' +
                sent.value(QLatin1String("external")).toObject().value(QLatin1String("new")).toString());
        }
        QCOMPARE(events, (QStringList{"test 203.0.113.7", "changed 203.0.113.9"}));
        QTRY_VERIFY(window->lstChannels->topLevelItem(0)->text(4).endsWith(QLatin1String("delivered")));
    }

    void sourcesChosenInTheWindowSurviveARestart()
    {
        Rig rig;
        ScriptedHttpServer service;
        service.setResponse("/ip", Response::ok("203.0.113.5\n", "text/plain"));
        Form1 &w = rig.load();
        QVERIFY(lookupsDone(rig));
        const QList<QAction *> actions = w.mnuAction->actions();
        QCOMPARE(actions.mid(0, 2), (QList<QAction *>{w.mnuActionItem[0], w.mnuActionItem[1]}));
        QVERIFY(actions.indexOf(w.mnuSources) > 1 && actions.indexOf(w.mnuNotifyDesktop) > 1);

        w.mnuSources->trigger();
        QPointer<frmSources> dialog = w.sourcesWindow();
        QVERIFY(dialog && dialog->isVisible());
        dialog->txtCustom->setText(service.url(QStringLiteral("/ip")).toString());
        dialog->cmdAdd->click();
        while (dialog->cmdUp->isEnabled())
            dialog->cmdUp->click();
        QVERIFY(service.requests().isEmpty()); // choosing asks nothing

        // The next lookup takes the new list without a restart.
        w.Command1_Click();
        QVERIFY(rig.lookupFinished());
        QCOMPARE(w.Label1->text(), ServiceAddress);
        QCOMPARE(w.Label1->toolTip(), ServiceAddress + QStringLiteral("\nAnswered by ") +
                                          service.url(QStringLiteral("/ip")).toString());
        const qsizetype pageRequests = rig.server.requestsFor(PagePath).size();

        rig.window.reset();
        QVERIFY(dialog.isNull());
        Form1 &again = rig.load();
        QVERIFY(lookupsDone(rig));
        QCOMPARE(again.Label1->text(), ServiceAddress);
        QCOMPARE(rig.server.requestsFor(PagePath).size(), pageRequests);
        QCOMPARE(service.requests().size(), 3); // one lookup before the restart, two after it
    }

    /// The Action menu's check item shows the stored option and switches the watch through the model.
    void networkItemFollowsTheOption()
    {
        Rig rig;
        rig.seed("watchNetwork", QStringLiteral("1"));
        Form1 &w = rig.load();
        QVERIFY(lookupsDone(rig));
        QVERIFY(w.mnuAction->actions().contains(w.mnuWatchNetwork));
        QVERIFY(w.mnuWatchNetwork->isChecked());
        QVERIFY(w.monitor().watchNetwork());
        QVERIFY(w.monitor().watchingNetwork());
        w.mnuWatchNetwork->trigger();
        QVERIFY(!w.monitor().watchNetwork());
        QVERIFY(!w.monitor().watchingNetwork());
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::WatchNetwork),
                 QStringLiteral("0"));
    }

    void storedListAtLoad_data()
    {
        QTest::addColumn<QString>("stored"); // %1: the local service's URL
        QTest::addColumn<QString>("shown");
        QTest::newRow("service first") << "%1 default" << ServiceAddress;
        QTest::newRow("service switched off") << "-%1 default" << PageAddress;
        QTest::newRow("an entry that is no URL") << "%1 gopher://x" << PageAddress;
        QTest::newRow("control characters") << "\x01%1\x7f" << PageAddress;
        QTest::newRow("too long") << "%1 https://example.com/" + QString(20000, 'a') << PageAddress;
    }
    void storedListAtLoad()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        Rig rig;
        ScriptedHttpServer service;
        service.setResponse("/ip", Response::ok(" 203.0.113.5\r\n", "text/plain"));
        const QString value = stored.arg(service.url(QStringLiteral("/ip")).toString());
        const QList<std::pair<const char *, QString>> seeded = {
            {"ipSources", value},   {"refresh", "1"},    {"refreshrate", "2"},
            {"showHelp", "0"},      {"strPort", "2525"}, {"strServer", "smtp.example.org"},
            {"notifyDesktop", "1"},
        };
        for (const auto &[key, text] : seeded)
            rig.seed(key, text);
        Form1 &w = rig.load();
        QVERIFY(lookupsDone(rig));
        QCOMPARE(w.Label1->text(), shown);
        // A list the program cannot use is read as the default and left as it is, with everything else.
        SettingsStore store(QStringLiteral("Netquill"));
        for (const auto &[key, text] : seeded)
            QCOMPARE(store.GetSetting(QString::fromLatin1(key), QStringLiteral("(missing)")), text);
    }

    void trayTellsTheAddresses_data()
    {
        QTest::addColumn<QString>("notify"); // null: not stored
        QTest::addColumn<QString>("oldExternal");
        QTest::addColumn<int>("messages");
        QTest::newRow("off by default, address changed") << QString() << "198.51.100.1" << 0;
        QTest::newRow("on, address changed") << "1"
                                             << "198.51.100.1" << 1;
        QTest::newRow("on, no change") << "1" << PageAddress << 0;
        QTest::newRow("on, nothing known before") << "1"
                                                  << "0" << 0;
    }
    void trayTellsTheAddresses()
    {
        QFETCH(QString, notify);
        QFETCH(QString, oldExternal);
        QFETCH(int, messages);
        Rig rig;
        if (!notify.isNull())
            rig.seed("notifyDesktop", notify);
        rig.seed("OldExternal", oldExternal);
        rig.seed("OldInternal", Winsock::LocalIP());
        Form1 &w = rig.create();
        w.trayIcon()->setTrayProbe([] { return true; }, 1000);
        // With a notification service (a run of its own) the notice goes there, not to the icon.
        const bool service = qEnvironmentVariableIsSet("NETQUILL_TEST_NOTIFICATIONS");
        QSignalSpy shownMessages(w.trayIcon(), service ? &TrayIcon::notified : &TrayIcon::messageShown);
        QSignalSpy balloons(w.trayIcon(), &TrayIcon::messageShown);
        w.Form_Load();
        QCOMPARE(w.trayIcon()->toolTip(), QStringLiteral("Netquill"));
        QVERIFY(lookupsDone(rig));
        QTest::qWait(300);
        QTRY_COMPARE_WITH_TIMEOUT(shownMessages.size(), messages, 5000);
        QCOMPARE(balloons.size(), service ? 0 : messages);

        const QString lines =
            QStringLiteral("Internal: ") + Winsock::LocalIP() + QStringLiteral("\nExternal: ") + PageAddress;
        QCOMPARE(w.trayIcon()->toolTip(), QStringLiteral("Netquill\n") + lines);
        QCOMPARE(w.mnuNotifyDesktop->isChecked(), notify == QLatin1String("1"));
        QCOMPARE(shownMessages.size(), messages);
        if (messages > 0)
            QCOMPARE(shownMessages.first().at(1).toString(), lines);
    }

    // Out of the box only the own page is asked; a host nobody set up is pointed out once.
    void trayPointsToTheSources_data()
    {
        QTest::addColumn<QString>("pageHost");
        QTest::addColumn<QString>("sources"); // %1: an address where nothing listens
        QTest::addColumn<bool>("pointed");
        QTest::addColumn<bool>("offline"); // the name server cannot be reached, in a private namespace
        const QString unknown = QStringLiteral("netquill-test.invalid");
        QTest::newRow("own page, host unknown") << unknown << "default" << true << false;
        QTest::newRow("own page, host known, nothing there") << "127.0.0.1:%1"
                                                             << "default" << false << false;
        QTest::newRow("a service ticked too") << unknown << "default http://%1/" << false << false;
        // No answer is not "unknown": an offline first start is not told to choose a source.
        QTest::newRow("own page, name server unreachable") << unknown << "default" << false << true;
    }
    void trayPointsToTheSources()
    {
        QFETCH(QString, pageHost);
        QFETCH(QString, sources);
        QFETCH(bool, pointed);
        QFETCH(bool, offline);
        if (offline && !qEnvironmentVariableIsSet(InNetworkNamespace)) {
            QTemporaryFile resolvConf;
            QVERIFY(resolvConf.open());
            resolvConf.write("nameserver 127.0.0.9\noptions timeout:1 attempts:1\n");
            resolvConf.flush();
            runInNetworkNamespace(
                QStringLiteral("Form1SourcesTest"), {QStringLiteral("-n"), QStringLiteral("-m")},
                QStringLiteral("mount --bind \"$0\" /etc/resolv.conf"), {resolvConf.fileName()});
            return;
        }
        Rig rig;
        const QString closed = QStringLiteral("127.0.0.1:%1").arg(FreePort::pick());
        rig.seed("ipSources", sources.arg(closed));
        Form1 &w = rig.create(pageHost.arg(FreePort::pick()));
        // With a notification service (a run of its own), a desktop without a tray: the service tells.
        const bool service = qEnvironmentVariableIsSet("NETQUILL_TEST_NOTIFICATIONS");
        w.trayIcon()->setTrayProbe([service] { return !service; }, 1000);
        QSignalSpy shownMessages(w.trayIcon(), service ? &TrayIcon::notified : &TrayIcon::messageShown);
        w.Form_Load();
        QTRY_COMPARE_WITH_TIMEOUT(w.txtStatus->text(), LookupCycle::StatusFailed, 10000);
        // The status line keeps its text; the tray tells the way on.
        QCOMPARE(QTest::qWaitFor([&] { return !shownMessages.isEmpty(); }, pointed ? 5000 : 1000), pointed);
        QCOMPARE(shownMessages.size(), pointed ? 1 : 0);
        QCOMPARE(w.trayIcon()->toolTip().contains(QLatin1String("Action, Address Sources...")), pointed);
        QCOMPARE(w.txtStatus->text(), LookupCycle::StatusFailed);
        w.Command1_Click();
        QTRY_COMPARE_WITH_TIMEOUT(w.txtStatus->text(), LookupCycle::StatusFailed, 10000);
        QTest::qWait(300);
        QCOMPARE(shownMessages.size(), pointed ? 1 : 0); // once a run
    }

    // Written by the lookups, shown only when asked for, and followed while it is open.
    void historyWindowOnDemand()
    {
        QTemporaryDir state;
        const QByteArray oldState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
        Rig rig;
        rig.seed("OldInternal", Winsock::LocalIP());
        rig.seed("OldExternal", QStringLiteral("198.51.100.1"));
        Form1 &w = rig.load();
        qputenv("XDG_STATE_HOME", oldState);
        QVERIFY(lookupsDone(rig));
        QVERIFY(!w.historyWindow());
        const QList<QAction *> actions = w.mnuAction->actions();
        QCOMPARE(actions.indexOf(w.mnuHistory), actions.indexOf(w.mnuSources) + 1);

        w.mnuHistory->trigger();
        QPointer<frmHistory> window = w.historyWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->lstHistory->topLevelItemCount(), 1);
        const QTreeWidgetItem *row = window->lstHistory->topLevelItem(0);
        QCOMPARE(row->text(frmHistory::ColumnEvent), QStringLiteral("External address changed"));
        QCOMPARE(row->text(frmHistory::ColumnOld), QStringLiteral("198.51.100.1"));
        QCOMPARE(row->text(frmHistory::ColumnNew), PageAddress);

        rig.server.setResponse(PagePath, Response::status(500));
        w.Command1_Click();
        QVERIFY(rig.lookupFinished());
        QTRY_COMPARE_WITH_TIMEOUT(window->lstHistory->topLevelItemCount(), 2, 5000);
        QCOMPARE(window->lstHistory->topLevelItem(0)->text(frmHistory::ColumnEvent),
                 QStringLiteral("Lookups failing"));
        rig.window.reset();
        QVERIFY(window.isNull());
    }
};

NETQUILL_TEST(Form1SourcesTest)
#include "Form1SourcesTest.moc"

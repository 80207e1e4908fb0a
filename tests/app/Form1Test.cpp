#include "Form1.h"
#include "AddRemove.h"
#include "DnsConverter.h"
#include "Form2.h"
#include "FreePort.h"
#include "LabelFit.h"
#include "LookupCycle.h"
#include "MailSender.h"
#include "PageFetcher.h"
#include "ScriptedHttpServer.h"
#include "ScriptedSmtpServer.h"
#include "SettingsStore.h"
#include "Skin.h"
#include "SkinEngine.h"
#include "SkinLabel.h"
#include "StartupCommand.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "WebsiteModule.h"
#include "Winsock.h"
#include "frmConfigure.h"
#include "frmSources.h"
#include "frmWhois.h"
#include "modIdentity.h"
#include "modSkin.h"
#include "modTaskbar.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPromise>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <list>
#include <memory>

#include "Form1Rig.h"

class Form1Test : public QObject {
    Q_OBJECT
private slots:
    void loadOnAnEmptyStore()
    {
        Rig rig;
        Form1 &w = rig.create();
        w.Form_Load();

        QVERIFY(w.helpWindow() && w.helpWindow()->isVisible());
        QCOMPARE(w.txtStatus->text(), QStringLiteral("Looking up your IPs..."));
        QCOMPARE(w.windowTitle(), QStringLiteral("Netquill by Velmora"));
        QVERIFY(w.cmdWebsite->text().startsWith(QStringLiteral("Visit ")));
        QCOMPARE(w.Check1->checkState(), Qt::Unchecked);
        QCOMPARE(w.Check2->checkState(), Qt::Unchecked);
        QCOMPARE(w.Check3->checkState(), Qt::Unchecked);
        QCOMPARE(w.cmbRefresh->currentIndex(), 0);
        QCOMPARE(w.cmbRefresh->currentText(), QStringLiteral("01 Minute"));
        QVERIFY(!w.Command3->isEnabled());
        QVERIFY(!w.timRefresh->isActive());
        QCOMPARE(w.Label1->text(), QStringLiteral("000.000.000.000"));
        // The list's restore selects the first item, as a user's choice would, and writes it.
        QCOMPARE(rig.storedKeys(), QStringList{QStringLiteral("refreshrate")});

        QVERIFY(rig.lookupFinished());
        QCOMPARE(w.txtStatus->text(), QStringLiteral("Finished looking up IPs"));
        QCOMPARE(w.Label1->text(), QStringLiteral("203.0.113.7"));
        QCOMPARE(w.Label2->text(), Winsock::LocalIP());
        QCOMPARE(rig.storedKeys(), (QStringList{QStringLiteral("OldExternal"), QStringLiteral("OldInternal"),
                                                QStringLiteral("refreshrate")}));
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::RefreshRate),
                 QStringLiteral("0"));

        // The first lookup creates the overlay, hidden and filled, and its creation fetches once more.
        QVERIFY(w.overlayWindow() && !w.overlayWindow()->isVisible());
        QCOMPARE(w.overlayWindow()->Label1->text(), Winsock::LocalIP());
        QCOMPARE(w.overlayWindow()->Label2->text(), QStringLiteral("203.0.113.7"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended == rig.lookups, 5000);
        QCOMPARE(rig.server.requestsFor(PagePath).size(), 2);
        QCOMPARE(w.txtStatus->text(), QStringLiteral("Finished looking up IPs"));
    }

    void failedSaveIsShownInTheStatusLine()
    {
        Rig rig;
        // A folder where the file belongs cannot be read, and so is never replaced.
        const QString file = rig.temp.path() + QStringLiteral("/Netquill/Netquill.conf");
        QVERIFY(QDir().mkpath(file));
        Form1 &w = rig.load();
        // Every save is written behind the window, the restored options' during the lookup, so the
        // status line may tell of a failure before the lookup ends.
        QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), QStringLiteral("203.0.113.7"), 5000);
        // The addresses are saved behind the lookup's status; their failure follows it.
        QTRY_VERIFY2(w.txtStatus->text().startsWith(QStringLiteral("Error: Settings not saved: ")),
                     qPrintable(w.txtStatus->text()));
        QCOMPARE(rig.store->GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QVERIFY(QFileInfo(file).isDir());
    }

    void restoreAppliesAndWritesBackTheOptions()
    {
        Rig rig;
        rig.seed("refresh", QStringLiteral(" 1"));
        rig.seed("refreshrate", QStringLiteral("2"));
        rig.seed("emailNotify", QStringLiteral("01"));
        rig.seed("startup", QStringLiteral("1"));
        const QString entry = rig.temp.path() + QStringLiteral("/autostart/Netquill.desktop");
        QVERIFY(!QFile::exists(entry));
        Form1 &w = rig.load();
        QCOMPARE(w.Check1->checkState(), Qt::Checked);
        QVERIFY(w.timRefresh->isActive());
        QCOMPARE(w.cmbRefresh->currentText(), QStringLiteral("10 Minutes"));
        QCOMPARE(w.monitor().intervalSeconds(), 600); // the list is restored after the box
        QVERIFY(w.Command3->isEnabled());
        QCOMPARE(w.Check2->checkState(), Qt::Checked);
        // Each restored box writes back as a tick would, and the log-on entry is written again, so it
        // follows the program wherever it has moved.
        SettingsStore store(QStringLiteral("Netquill"));
        for (const SettingKeys::Key &key :
             {SettingKeys::Refresh, SettingKeys::EmailNotify, SettingKeys::Startup})
            QCOMPARE(store.GetSetting(key), QStringLiteral("1"));
        QCOMPARE(AddRemove().GetString(AddRemove::ProgramRoot, QString::fromLatin1(AddRemove::RunKeyPath),
                                       QStringLiteral("Netquill")),
                 QDir::toNativeSeparators(StartupCommand::ForThisProgram()));
        QVERIFY(QFile::exists(entry));
    }

    void oddStoredValues_data()
    {
        QTest::addColumn<QString>("refresh");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("storedRate");
        // What the program cannot read is shown as the default and left in the file as it is.
        QTest::newRow("word and out of range") << "yes"
                                               << "9" << 0 << "9";
        QTest::newRow("grey state and fraction") << "2"
                                                 << "1.5" << 0 << "1.5";
        QTest::newRow("no item") << "0"
                                 << "-1" << -1 << "-1";
        QTest::newRow("padded number") << " 0"
                                       << " 3" << 3 << "3";
    }
    void oddStoredValues()
    {
        QFETCH(QString, refresh);
        QFETCH(QString, rate);
        QFETCH(int, position);
        QFETCH(QString, storedRate);
        Rig rig;
        rig.seed("refresh", refresh);
        rig.seed("refreshrate", rate);
        Form1 &w = rig.load();
        QCOMPARE(w.Check1->checkState(), Qt::Unchecked);
        QVERIFY(!w.timRefresh->isActive());
        QCOMPARE(w.cmbRefresh->currentIndex(), position);
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::RefreshRate), storedRate);
    }

    void scheduleStartsLookupsOnTime()
    {
        Rig rig;
        Form1 &w = rig.load();
        QVERIFY(rig.lookupFinished());
        w.Check1->setCheckState(Qt::Checked);
        w.timRefresh->stop(); // the test drives the ticks
        const int before = rig.lookups;
        for (int tick = 1; tick < 60; ++tick) {
            if (tick == 30)
                w.Command1_Click(); // a manual lookup does not move the schedule
            w.timRefresh_Timer();
        }
        QCOMPARE(rig.lookups, before + 1);
        w.timRefresh_Timer();
        QCOMPARE(rig.lookups, before + 2);

        // Unchecking and checking again starts the count from zero.
        for (int tick = 0; tick < 50; ++tick)
            w.timRefresh_Timer();
        w.Check1->setCheckState(Qt::Unchecked);
        w.Check1->setCheckState(Qt::Checked);
        for (int tick = 0; tick < 59; ++tick)
            w.timRefresh_Timer();
        QCOMPARE(rig.lookups, before + 2);
        w.timRefresh_Timer();
        QCOMPARE(rig.lookups, before + 3);
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::Refresh),
                 QStringLiteral("1"));
    }

    void shorterIntervalKeepsTheCount()
    {
        Rig rig;
        Form1 &w = rig.load();
        w.cmbRefresh->setCurrentIndex(2);
        w.Check1->setCheckState(Qt::Checked);
        w.timRefresh->stop();
        const int before = rig.lookups;
        for (int tick = 0; tick < 400; ++tick)
            w.timRefresh_Timer();
        QCOMPARE(rig.lookups, before);
        w.cmbRefresh->setCurrentIndex(1);
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::RefreshRate),
                 QStringLiteral("1"));
        w.timRefresh_Timer();
        QCOMPARE(rig.lookups, before + 1);
    }

    void copyButtonsAndMenusCopyTheLabelsVerbatim()
    {
        Rig rig;
        rig.server.setResponse(PagePath, Response::ok("<b>203.0.113.7</b>\n"));
        Form1 &w = rig.load();
        QClipboard *clipboard = QGuiApplication::clipboard();
        w.cmdCopy2_Click();
        QCOMPARE(clipboard->text(), QStringLiteral("000.000.000.000"));
        QVERIFY(rig.lookupFinished());
        w.cmdCopy2->click();
        QCOMPARE(clipboard->text(), QStringLiteral("<b>203.0.113.7</b>\n"));
        w.mnuEditItem[0]->trigger();
        QCOMPARE(clipboard->text(), Winsock::LocalIP());
        w.mnuEditItem[1]->trigger();
        QCOMPARE(clipboard->text(), QStringLiteral("<b>203.0.113.7</b>\n"));
        w.cmdCopy1->click();
        QCOMPARE(clipboard->text(), w.Label2->text());
    }

    void changeStartsOneNotificationOnlyWhenSwitchedOn_data()
    {
        QTest::addColumn<QString>("notify");
        QTest::addColumn<QString>("previousExternal");
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("sessionStarted");
        QTest::newRow("on, changed") << "1"
                                     << "198.51.100.1"
                                     << "127.0.0.1" << true;
        QTest::newRow("on, unchanged") << "1"
                                       << "203.0.113.7"
                                       << "127.0.0.1" << false;
        QTest::newRow("on, first run") << "1"
                                       << "0"
                                       << "127.0.0.1" << false;
        QTest::newRow("off, changed") << "0"
                                      << "198.51.100.1"
                                      << "127.0.0.1" << false;
        QTest::newRow("on, changed, no server") << "1"
                                                << "198.51.100.1"
                                                << "" << false;
    }
    void changeStartsOneNotificationOnlyWhenSwitchedOn()
    {
        QFETCH(QString, notify);
        QFETCH(QString, previousExternal);
        QFETCH(QString, server);
        QFETCH(bool, sessionStarted);
        Rig rig;
        QTcpServer smtp; // accepts and stays silent: the session stays in its first steps
        QVERIFY(smtp.listen(QHostAddress::LocalHost, 0));
        rig.seed("emailNotify", notify);
        rig.seed("OldExternal", previousExternal);
        rig.seed("OldInternal", Winsock::LocalIP());
        rig.seed("strServer", server);
        rig.seed("strPort", QString::number(smtp.serverPort()));
        Form1 &w = rig.load();
        QStringList statuses;
        connect(w.monitor().session(), &MailSender::statusChanged, this,
                [&](const QString &text) { statuses << text; });
        QVERIFY(rig.lookupFinished());
        // Whatever the session said, the lookup has the last word.
        QCOMPARE(w.txtStatus->text(), QStringLiteral("Finished looking up IPs"));
        QCOMPARE(w.monitor().session()->busy(), sessionStarted);
        QCOMPARE(statuses.contains(QStringLiteral("Connecting...")), sessionStarted);
        if (server.isEmpty())
            QCOMPARE(statuses, QStringList{QStringLiteral("Error: Please Choose a Server First")});
        // The change is remembered whether or not it was reported.
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::OldExternal),
                 QStringLiteral("203.0.113.7"));
    }

    void unsentNotificationGoesOutOnceAfterARestart()
    {
        Rig rig;
        ScriptedSmtpServer smtp;
        smtp.setReply(ScriptedSmtpServer::Greeting, "554 5.3.2 not now\r\n");
        rig.seed("emailNotify", "1");
        rig.seed("OldExternal", "198.51.100.1");
        rig.seed("OldInternal", Winsock::LocalIP());
        rig.seed("strServer", "127.0.0.1");
        rig.seed("strPort", QString::number(smtp.port()));
        const auto pending = [] {
            return SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::NotifyPending);
        };

        QString last; // the session's last status; the lookup may write its own after it
        const auto load = [&] {
            Form1 *w = &rig.create();
            connect(w->monitor().session(), &MailSender::statusChanged, this,
                    [&](const QString &text) { last = text; });
            w->Form_Load();
            return w;
        };

        // The change cannot be mailed: it is remembered.
        Form1 *w = load();
        QTRY_COMPARE_WITH_TIMEOUT(last, QStringLiteral("Error: 554 5.3.2 not now\r\n"), 5000);
        QCOMPARE(pending(), QStringLiteral("1"));
        // The overlay's creation looks up a second time, and tries again.
        QTRY_COMPARE_WITH_TIMEOUT(rig.lookups, 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->monitor().session()->busy(), 5000);
        const int tries = smtp.connectionCount();

        // A test message that gets through is not the notification.
        smtp.setReply(ScriptedSmtpServer::Greeting, "220 ready\r\n");
        w->Command3->setEnabled(true);
        w->Command3->click();
        w->configureWindow()->cmdSend->click();
        QTRY_COMPARE_WITH_TIMEOUT(last, QStringLiteral("Message Sent"), 5000);
        QCOMPARE(pending(), QStringLiteral("1"));
        QCOMPARE(smtp.connectionCount(), tries + 1);

        // After a restart, the next lookup finds no change but sends what is owed, once.
        rig.window.reset();
        last.clear();
        w = load();
        QTRY_COMPARE_WITH_TIMEOUT(last, QStringLiteral("Message Sent"), 5000);
        QVERIFY(smtp.messageData().contains("External IP Address: 203.0.113.7"));
        QCOMPARE(pending(), QStringLiteral("0"));
        w->Command1_Click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.lookups, 5, 5000);
        QVERIFY(rig.lookupFinished());
        QTest::qWait(200);
        QCOMPARE(smtp.connectionCount(), tries + 2);

        // A notice waiting out a port no connection can be asked on, then a change after the port is
        // mended: the connection is the later notice's, and its delivery clears the mark. One mail.
        w->Command3->click();
        w->configureWindow()->txtPort->setText(QStringLiteral("abc"));
        rig.server.setResponse(PagePath, Response::ok("203.0.113.8"));
        w->Command1_Click();
        QVERIFY(rig.lookupFinished());
        QVERIFY(w->monitor().session()->busy());
        w->configureWindow()->txtPort->setText(QString::number(smtp.port()));
        rig.server.setResponse(PagePath, Response::ok("203.0.113.9"));
        w->Command1_Click();
        QTRY_COMPARE_WITH_TIMEOUT(last, QStringLiteral("Message Sent"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(pending(), QStringLiteral("0"), 5000);
        w->Command1_Click();
        QVERIFY(rig.lookupFinished());
        QTest::qWait(200);
        QCOMPARE(smtp.connectionCount(), tries + 3);
    }

    void notificationSwitchEnablesConfiguration()
    {
        Rig rig;
        Form1 &w = rig.load();
        w.Check3->click();
        QVERIFY(w.Command3->isEnabled());
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::EmailNotify),
                 QStringLiteral("1"));
        w.Command3->click();
        QVERIFY(w.configureWindow());
        QVERIFY(w.configureWindow()->isVisible());
        auto *first = w.configureWindow();
        w.Command3->click();
        QCOMPARE(w.configureWindow(), first); // brought to the front, not opened twice
        w.Check3->click();
        QVERIFY(!w.Command3->isEnabled());
        QCOMPARE(SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::EmailNotify),
                 QStringLiteral("0"));
    }

    void menuItemsRunTheirActions()
    {
        Rig rig;
        Form1 &w = rig.load();
        QVERIFY(rig.lookupFinished());
        const int before = rig.lookups;
        w.mnuActionItem[1]->trigger();
        QCOMPARE(rig.lookups, before + 1);
        w.mnuActionItem[0]->trigger();
        QVERIFY(w.overlayWindow()->isVisible());
        w.mnuPopupItem[1]->trigger();
        QVERIFY(!w.overlayWindow()->isVisible());
        w.helpWindow()->close();
        w.mnuHelpItem[0]->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w.helpWindow() && w.helpWindow()->isVisible(), 5000);
        w.mnuAboutItem[0]->trigger();
        QVERIFY(w.aboutWindow() && w.aboutWindow()->isVisible());
        // The captions keep their words; only a mnemonic marker is added.
        QCOMPARE(w.mnuFile->title().remove(u'&'), QStringLiteral("File"));
        QCOMPARE(w.mnuPopupItem[0]->text().remove(u'&'), QStringLiteral("Show"));
    }

    // Every menu and item keeps its caption and has a mnemonic of its own within its menu: screen
    // readers give the caption without the marker, and the key.
    void menusHaveMnemonics_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QStringList>("captions"); // "": a separator
        QTest::addColumn<QStringList>("checkItems");
        QTest::newRow("menu bar") << "bar" << QStringList{"File", "Edit", "Action", "Help", "About"}
                                  << QStringList();
        QTest::newRow("File") << "File" << QStringList{"Minimize", "Exit"} << QStringList();
        QTest::newRow("Edit") << "Edit" << QStringList{"Copy Internal IP", "Copy External IP"}
                              << QStringList();
        QTest::newRow("Action") << "Action"
                                << QStringList{"Overlay On/Off",
                                               "Refresh",
                                               "",
                                               "Address Sources...",
                                               "Address History...",
                                               "Run Command on Change...",
                                               "Desktop Notification on Change",
                                               "Look Up When the Network Changes",
                                               "Notification Channels..."}
                                << QStringList{"Desktop Notification on Change",
                                               "Look Up When the Network Changes"};
        QTest::newRow("Help") << "Help" << QStringList{"View Help"} << QStringList();
        QTest::newRow("About") << "About" << QStringList{"About this software"} << QStringList();
        QTest::newRow("tray") << "tray" << QStringList{"Show", "Address Overlay On/Off", "Exit"}
                              << QStringList();
    }
    void menusHaveMnemonics()
    {
        QFETCH(QString, menu);
        QFETCH(QStringList, captions);
        QFETCH(QStringList, checkItems);
        Rig rig;
        Form1 &w = rig.load();
        const QHash<QString, QWidget *> menus = {
            {"bar", w.menuBar()}, {"File", w.mnuFile},   {"Edit", w.mnuEdit}, {"Action", w.mnuAction},
            {"Help", w.mnuHelp},  {"About", w.mnuAbout}, {"tray", w.mnuPopup}};
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(menus.value(menu));
        QVERIFY(accessible);
        QStringList names, keys;
        for (int i = 0; i < accessible->childCount(); ++i) {
            QAccessibleInterface *item = accessible->child(i);
            names << item->text(QAccessible::Name);
            if (item->role() == QAccessible::Separator)
                continue;
            const QString key = item->text(QAccessible::Accelerator);
            QVERIFY2(key.startsWith(QLatin1String("Alt+")) && !keys.contains(key),
                     qPrintable(names.last() + QLatin1String(": ") + key));
            keys << key;
            // A check item says it can be checked while it is not.
            QCOMPARE(bool(item->state().checkable), checkItems.contains(names.last()));
            QVERIFY(!item->state().checked);
        }
        QCOMPARE(names, captions);

        if (menu == QLatin1String("bar")) {
            w.show();
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            const QList<QAction *> titles = w.menuBar()->actions();
            for (qsizetype i = 0; i < titles.size(); ++i) {
                QTest::keySequence(&w, QKeySequence(keys.at(i)));
                QTRY_VERIFY2_WITH_TIMEOUT(titles.at(i)->menu()->isVisible(), qPrintable(keys.at(i)), 2000);
                titles.at(i)->menu()->hide();
            }
        }
        // In the open menu, an item's letter checks it.
        auto *open = qobject_cast<QMenu *>(menus.value(menu));
        for (const QString &caption : checkItems) {
            const qsizetype index = names.indexOf(caption);
            open->popup(QPoint(0, 0));
            QTRY_VERIFY_WITH_TIMEOUT(open->isVisible(), 2000);
            QTest::keyClick(open,
                            accessible->child(int(index))->text(QAccessible::Accelerator).back().toLatin1());
            QVERIFY(open->actions().at(index)->isChecked());
            QVERIFY(accessible->child(int(index))->state().checked);
            QVERIFY(accessible->child(int(index))->state().checkable);
        }
    }

    void minimizeHidesOnlyWhileATrayShowsTheIcon()
    {
        Rig rig;
        bool trayUp = false;
        Form1 &w = rig.create();
        w.trayIcon()->setTrayProbe([&] { return trayUp; }, 20);
        w.Form_Load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.trayIcon()->isShown());
        w.mnuFileItem[0]->trigger();
        QTest::qWait(100); // the hiding would be queued at once
        QVERIFY(w.isVisible());

        trayUp = true; // a panel starts after the program
        QTRY_VERIFY_WITH_TIMEOUT(w.trayIcon()->isShown(), 5000);
        w.mnuPopupItem[0]->trigger();
        w.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
        w.mnuPopupShow_Click();
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());

        w.mnuFileItem[0]->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
        trayUp = false; // the panel goes away: the hidden window comes back
        QTRY_VERIFY_WITH_TIMEOUT(w.isVisible(), 5000);
    }

    void picturesAreLinkedIn()
    {
        Rig rig;
        Form1 &w = rig.create();
        w.trayIcon()->setTrayProbe([] { return true; }, 1000);
        w.Form_Load();
        QVERIFY(w.trayIcon()->isShown());
        for (const QIcon &icon : {w.windowIcon(), w.trayIcon()->icon()}) {
            QVERIFY(!icon.isNull());
            QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
        }
        for (QToolButton *copy : {w.cmdCopy1, w.cmdCopy2}) {
            QCOMPARE(copy->icon().availableSizes(), QList<QSize>{QSize(16, 16)});
            QCOMPARE(copy->text(), QStringLiteral("C"));
        }
    }

    void shownCentredOnTheScreen()
    {
        Rig rig;
        Form1 &w = rig.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QPoint offset = w.frameGeometry().center() - w.screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    }

    void mailDialogGoesWithTheWindow()
    {
        Rig rig;
        Form1 &w = rig.load();
        w.Check3->click();
        w.Command3_Click();
        QPointer<frmConfigure> dialog = w.configureWindow();
        QVERIFY(dialog);
        rig.window.reset();
        QVERIFY(dialog.isNull());
    }

    // A screen reader gives each control its role and its caption as the name, a combo box's choice as its
    // value (and text), and as the control's caption the one label shown, which it finds once in the window.
    void controlsAreAnnouncedByTheirCaptions_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value"); // null: not checked
        QTest::addColumn<bool>("labelled"); // captioned by a label beside it
        const int text = QAccessible::EditableText, list = QAccessible::ComboBox;
        QTest::newRow("DNS, address") << "Text1" << text << "IP Address:" << QString() << true;
        QTest::newRow("DNS, name") << "Text2" << text << "Domain Name:" << QString() << true;
        QTest::newRow("whois") << "Text3" << text << "IP Address/Domain:" << QString() << true;
        // Captioned by the check box above it.
        QTest::newRow("refresh interval") << "cmbRefresh" << list << "Auto Refresh Every:"
                                          << "01 Minute" << false;
        // Named by what it says, as a status bar is.
        QTest::newRow("status line") << "txtStatus" << int(QAccessible::StatusBar)
                                     << "Finished looking up IPs" << QString() << false;
        QTest::newRow("mail server") << "txtServer" << text << "Mail Server:" << QString() << true;
        QTest::newRow("mail port") << "txtPort" << text << "Port:" << QString() << true;
        QTest::newRow("mail to") << "txtEmailTo" << text << "Email Address - To:" << QString() << true;
        QTest::newRow("mail from") << "txtEmailFrom" << text << "Email Address - From:" << QString() << true;
        QTest::newRow("mail security") << "cmbSecurity" << list << "Connection Security:"
                                       << "None" << true;
        QTest::newRow("mail user") << "txtUser" << text << "User Name:" << QString() << true;
        QTest::newRow("mail password") << "txtPassword" << text << "Password:" << QString() << true;
    }
    void controlsAreAnnouncedByTheirCaptions()
    {
        QFETCH(QString, control);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(bool, labelled);
        Rig rig;
        Form1 &w = rig.load();
        w.show();
        w.Check3->click();
        w.Command3_Click();
        const QHash<QString, QWidget *> mainControls = {{"Text1", w.Text1},
                                                        {"Text2", w.Text2},
                                                        {"Text3", w.Text3},
                                                        {"cmbRefresh", w.cmbRefresh},
                                                        {"txtStatus", w.txtStatus}};
        QWidget *widget = mainControls.value(control, w.configureWindow()->findChild<QWidget *>(control));
        QVERIFY(widget);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(accessible);
        QCOMPARE(int(accessible->role()), role);
        QTRY_COMPARE_WITH_TIMEOUT(accessible->text(QAccessible::Name), name, 5000);
        if (!value.isNull()) {
            QCOMPARE(accessible->text(QAccessible::Value), value);
            // AT-SPI readers find a list's choice only as text: the box's own, or its edit field's.
            QAccessibleInterface *shown = accessible->textInterface() ? accessible : accessible->child(1);
            QVERIFY(shown && shown->textInterface());
            QCOMPARE(shown->textInterface()->text(0, shown->textInterface()->characterCount()), value);
        }

        QStringList captions;
        for (const auto &[label, relation] : accessible->relations(QAccessible::Label)) {
            if (label->role() == QAccessible::StaticText && !label->state().invisible)
                captions << label->text(QAccessible::Name);
        }
        QCOMPARE(captions, labelled ? QStringList{name} : QStringList());
        // The skin lays a copy over a label; only one of the two is there for screen readers.
        QStringList shown;
        std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
            for (int i = 0; i < node->childCount(); ++i) {
                QAccessibleInterface *child = node->child(i);
                if (!child || child->state().invisible)
                    continue;
                if (child->role() == QAccessible::StaticText)
                    shown << child->text(QAccessible::Name);
                walk(child);
            }
        };
        walk(QAccessible::queryAccessibleInterface(widget->window()));
        QCOMPARE(shown.count(name), labelled ? 1 : 0);
    }

    // A label that shows an address is read and shown by the address, whole, in every window.
    void addressLabelsShowTheWholeAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("families"); // then switched on and off in the sources window
        QTest::newRow("IPv4") << "203.0.113.7" << false;
        QTest::newRow("IPv6") << "2001:0db8:85a3:0000:0000:8a2e:0370:7334" << false;
        QTest::newRow("IPv4, then IPv6 apart") << "203.0.113.7" << true;
    }
    void addressLabelsShowTheWholeAddress()
    {
        QFETCH(QString, address);
        QFETCH(bool, families);
        Rig rig;
        rig.server.setResponse(PagePath, Response::ok(address.toLatin1()));
        Form1 &w = rig.create();
        const QFont mainFont = w.Label1->font();
        const QRect mainPlace = w.Label1->geometry();
        w.Form_Load();
        QVERIFY(rig.lookupFinished());
        QTRY_VERIFY_WITH_TIMEOUT(w.overlayWindow() && rig.ended == rig.lookups, 5000);
        Form2 *overlay = w.overlayWindow();
        QCOMPARE(w.Label1->text(), address);
        QCOMPARE(overlay->Label2->text(), address);
        const auto shownWhole = [](QLabel *label) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(label);
            QVERIFY(accessible);
            QCOMPARE(accessible->text(QAccessible::Name), label->text());
            // Readable, 9 pixels or more, and whole: each line it is broken onto fits the label.
            QVERIFY2(QFontInfo(label->font()).pixelSize() >= 9, qPrintable(label->font().toString()));
            const QFontMetrics metrics(label->font());
            const QStringList lines = LabelFit::linesShown(label);
            QCOMPARE(lines.join(QString()), label->text());
            for (const QString &line : lines)
                QVERIFY2(metrics.horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
            QVERIFY(lines.size() * metrics.lineSpacing() <= label->contentsRect().height());
            QCOMPARE(label->toolTip().section(QLatin1Char('\n'), 0, 0), label->text());
        };
        for (QLabel *label : {w.Label1, w.Label2, overlay->Label1, overlay->Label2})
            shownWhole(label);
        QCOMPARE(QAccessible::queryAccessibleInterface(w.Label1)->text(QAccessible::Description),
                 QStringLiteral("External IP address"));
        // Both keep their face: an IPv6 address goes onto two lines in a taller label in the main window,
        // and widens the overlay. An IPv4 address looks as it always did.
        const bool v4 = !address.contains(QLatin1Char(':'));
        QCOMPARE(w.Label1->font(), mainFont);
        QCOMPARE(overlay->Label2->font(), Form2().Label2->font());
        QCOMPARE(LabelFit::linesShown(w.Label1).size(), v4 ? 1 : 2);
        QCOMPARE(w.Label1->pos(), mainPlace.topLeft());
        QCOMPARE(w.Label1->width(), mainPlace.width());
        QCOMPARE(w.Label1->geometry() == mainPlace, v4);
        QVERIFY(w.Frame1->rect().contains(w.Label1->geometry()));
        QVERIFY(w.trayIcon()->toolTip().endsWith(QStringLiteral("External: ") + address));
        if (!families)
            return;
        // An IPv6 line under each address, the window and the overlay taller; off again, as designed.
        const QSize designed = w.size(), overlayDesigned = overlay->size();
        w.OpenSources();
        w.sourcesWindow()->chkFamilies->click();
        const QString v6 = QStringLiteral("2001:db8:1234:5678:9abc:def0:1234:5678");
        emit rig.monitor->addresses6Shown({v6, v6});
        for (QLabel *label : {w.Label8, w.Label9, overlay->Label5, overlay->Label6}) {
            QCOMPARE(label->text(), v6);
            QVERIFY(label->isVisibleTo(label->window()));
            shownWhole(label);
        }
        QVERIFY(w.height() > designed.height() && overlay->height() > overlayDesigned.height());
        QVERIFY(!w.Frame1->geometry().intersects(w.Frame2->geometry()));
        QVERIFY(w.Frame1->rect().contains(w.Label9->geometry()));
        QVERIFY(w.trayIcon()->toolTip().contains(QStringLiteral("External IPv4: ") + address));
        QVERIFY(w.trayIcon()->toolTip().endsWith(QStringLiteral("External IPv6: ") + v6));
        w.sourcesWindow()->chkFamilies->click();
        QCOMPARE(w.size(), designed);
        QCOMPARE(w.Label1->geometry(), mainPlace);
        QCOMPARE(overlay->size(), overlayDesigned);
    }

    void trayMenuOpensAtTheCursor()
    {
        Rig rig;
        Form1 &w = rig.load();
        QVERIFY(w.trayIcon()->isAdded());
        w.ShowTrayMenu();
        QTRY_VERIFY_WITH_TIMEOUT(w.mnuPopup->isVisible(), 5000);
        w.mnuPopup->hide();
    }

    void trayClicks_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("opens");
        QTest::newRow("left click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("right click") << int(QSystemTrayIcon::Context) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    }
    void trayClicks()
    {
        QFETCH(int, reason);
        QFETCH(bool, opens);
        QCOMPARE(TrayIcon::opensMenu(QSystemTrayIcon::ActivationReason(reason)), opens);
    }

    void everyClosePathRemovesTheTrayIconFirst_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("close box") << "box";
        QTest::newRow("File, Exit") << "file";
        QTest::newRow("tray, Exit") << "tray";
    }
    void everyClosePathRemovesTheTrayIconFirst()
    {
        QFETCH(QString, path);
        Rig rig;
        Form1 &w = rig.load();
        w.show();
        w.Check3->click();
        w.Command3_Click(); // a window that the close sequence unloads
        bool trayGoneWhenWindowsUnloaded = false;
        connect(w.configureWindow(), &QObject::destroyed, this,
                [&] { trayGoneWhenWindowsUnloaded = !w.trayIcon()->isAdded() && !w.hasRegistry(); });
        if (path == "box")
            w.close();
        else if (path == "file")
            w.mnuFileItem[1]->trigger();
        else
            w.mnuPopupItem[2]->trigger();
        QCOMPARE(rig.endCalls, 1);
        QVERIFY(!w.trayIcon()->isAdded());
        QTRY_VERIFY_WITH_TIMEOUT(!w.configureWindow(), 5000);
        QVERIFY(trayGoneWhenWindowsUnloaded);
        w.close();
        QCOMPARE(rig.endCalls, 1);
    }

    void closingWhileTheBrowserWindowIsShownKeepsRunning()
    {
        Rig rig;
        Skin skin;
        modSkin::Engine()->SetSkin(skin.Object());
        modSkin::Engine()->Start();
        rig.seed("refresh", QStringLiteral("1"));
        rig.seed("watchNetwork", QStringLiteral("1"));
        rig.seed("OldExternal", QStringLiteral("198.51.100.1"));
        Form1 &w = rig.load();
        w.show();
        QVERIFY(rig.lookupFinished());
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended == rig.lookups, 5000);
        QWidget browser;
        browser.show();
        w.setWebsiteWindow(&browser);
        WebsiteModule::blnExitPending = false;
        rig.server.setResponse(PagePath, Response::ok("203.0.113.99"));
        w.Command1_Click(); // under way as the window closes
        w.close();
        QVERIFY(!w.isVisible());
        QVERIFY(!w.trayIcon()->isAdded());
        QVERIFY(WebsiteModule::blnExitPending);
        QCOMPARE(rig.endCalls, 0);
        QVERIFY(modSkin::Engine()->isRunning()); // stopped only when the program really ends

        // The monitor went with the window: no clock, no watch, and the lookup under way is dropped.
        QVERIFY(!w.timRefresh->isActive());
        QVERIFY(!w.monitor().networkWatch());
        QTest::qWait(300);
        const qsizetype requests = rig.server.requestsFor(PagePath).size();
        for (int tick = 0; tick < 60; ++tick)
            w.timRefresh_Timer();
        w.monitor().Refresh();
        QTest::qWait(300);
        QCOMPARE(rig.server.requestsFor(PagePath).size(), requests);
        QVERIFY(!w.overlayWindow());
        QCOMPARE(rig.store->GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        // What the user chose stays chosen for the next start.
        QCOMPARE(rig.store->GetSetting(SettingKeys::WatchNetwork), QStringLiteral("1"));
        WebsiteModule::blnExitPending = false;
    }

    void loadAppliesTheCurrentSkin()
    {
        Rig rig;
        Skin skin;
        modSkin::SetCurrentSkin(&skin);
        Form1 &w = rig.load();
        modSkin::SetCurrentSkin(nullptr);
        QCOMPARE(w.palette().color(QPalette::Window), Skin::toColor(skin.PanelColor()));
        // Each frame's plain labels get copies from that frame's template only.
        QCOMPARE(w.SkinLabel1.UBound(), 0);
        QCOMPARE(w.SkinLabel2.UBound(), 2);
        QCOMPARE(w.SkinLabel3.UBound(), 1);
        QCOMPARE(w.SkinLabel3[1]->text(), QStringLiteral("IP Address/Domain:"));
        QVERIFY(!w.Command3->isEnabled());
        QCOMPARE(w.Command1->palette().color(QPalette::Active, QPalette::ButtonText),
                 Skin::toColor(skin.TextColor()));
        // A button that cannot be used must not look like one that can.
        QVERIFY(w.Command3->palette().color(QPalette::Disabled, QPalette::ButtonText) !=
                w.Command1->palette().color(QPalette::Active, QPalette::ButtonText));
    }

    void closingStopsTheSkinEngine()
    {
        Rig rig;
        Skin skin;
        modSkin::Engine()->SetSkin(skin.Object());
        modSkin::Engine()->Start();
        Form1 &w = rig.load();
        w.close();
        QCOMPARE(rig.endCalls, 1);
        QVERIFY(!modSkin::Engine()->isRunning());
    }

    void converterReplacesTheOtherBox_data()
    {
        QTest::addColumn<bool>("fromAddress");
        QTest::addColumn<bool>("enterKey");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("result");
        QTest::newRow("Enter in Text1, three parts") << true << true << "127.0.0"
                                                     << "";
        QTest::newRow("Convert, part of 256") << true << false << "127.0.0.256"
                                              << "";
        QTest::newRow("Enter in Text2, localhost") << false << true << "localhost"
                                                   << "127.0.0.1";
        QTest::newRow("Convert, empty name") << false << false << ""
                                             << "";
    }
    void converterReplacesTheOtherBox()
    {
        QFETCH(bool, fromAddress);
        QFETCH(bool, enterKey);
        QFETCH(QString, input);
        QFETCH(QString, result);
        Rig rig;
        Form1 &w = rig.create();
        QLineEdit *source = fromAddress ? w.Text1 : w.Text2;
        QLineEdit *target = fromAddress ? w.Text2 : w.Text1;
        source->setText(input);
        target->setText(QStringLiteral("stale"));
        const QString status = w.txtStatus->text();
        if (enterKey)
            QTest::keyClick(source, Qt::Key_Return);
        else
            (fromAddress ? w.cmdConvert : w.cmdConvert2)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.converter()->isBusy(), 10000);
        QCOMPARE(target->text(), result);
        QCOMPARE(source->text(), input);
        QCOMPARE(w.txtStatus->text(), status);
    }

    void converterKeepsTheWindowRunning()
    {
        Rig rig;
        Form1 &w = rig.load();
        QVERIFY(rig.lookupFinished());
        std::list<QPromise<QString>> lookups; // a name server that answers only when the test says so
        w.converter()->setResolver([&lookups](DnsConverter::Direction, const QString &) {
            lookups.emplace_back().start();
            return lookups.back().future();
        });
        const auto answer = [&lookups](int index, const QString &text) {
            auto &lookup = *std::next(lookups.begin(), index);
            lookup.addResult(text);
            lookup.finish();
        };
        w.Check1->setCheckState(Qt::Checked);
        w.timRefresh->setInterval(20);
        QSignalSpy ticks(w.timRefresh, &QTimer::timeout);
        w.Text1->setText(QStringLiteral("stale"));
        w.Text2->setText(QStringLiteral("slow.example"));
        QTest::keyClick(w.Text2, Qt::Key_Return);
        QCOMPARE(lookups.size(), size_t(1));

        // While the resolver keeps silent, the clock ticks and a lookup runs to its end.
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 5, 5000);
        w.Command1_Click();
        QVERIFY(rig.lookupFinished());
        QCOMPARE(w.Text1->text(), QStringLiteral("stale"));

        // A second conversion asked meanwhile wins; the first one's late answer is dropped.
        w.Text1->setText(QStringLiteral("192.0.2.1"));
        w.cmdConvert->click();
        answer(1, QStringLiteral("host.example"));
        QTRY_COMPARE_WITH_TIMEOUT(w.Text2->text(), QStringLiteral("host.example"), 5000);
        answer(0, QStringLiteral("203.0.113.9"));
        QTest::qWait(50);
        QCOMPARE(w.Text1->text(), QStringLiteral("192.0.2.1"));
        QCOMPARE(w.Text2->text(), QStringLiteral("host.example"));
        QCOMPARE(w.txtStatus->text(), LookupCycle::StatusFinished);
    }

    void whoisOpensOnceAndRunsTheStoredQuery()
    {
        QTcpServer whois;
        QVERIFY(whois.listen(QHostAddress::LocalHost, 0));
        qputenv("NETQUILL_WHOIS_HOST", "127.0.0.1:" + QByteArray::number(whois.serverPort()));
        const auto unset = qScopeGuard([] { qunsetenv("NETQUILL_WHOIS_HOST"); });
        auto query = [&whois]() -> std::pair<QTcpSocket *, QByteArray> {
            if (!QTest::qWaitFor([&] { return whois.hasPendingConnections(); }, 5000))
                return {nullptr, {}};
            QTcpSocket *peer = whois.nextPendingConnection();
            QByteArray line;
            static_cast<void>(
                QTest::qWaitFor([&] { return (line += peer->readAll()).endsWith("\r\n"); }, 5000));
            return {peer, line};
        };
        Rig rig;
        Form1 &w = rig.create();
        w.Text3->setText(QStringLiteral("first.example"));
        w.cmdWhois->click();
        auto [peer, line] = query();
        QVERIFY(peer);
        QCOMPARE(line, QByteArray("first.example\r\n"));
        QPointer<QWidget> window = w.whoisWindow();
        QVERIFY(window && window->isVisible());

        // A second click while it is open only stores the query; the first answer stays.
        w.Text3->setText(QStringLiteral("second.example"));
        w.cmdWhois->click();
        QCOMPARE(w.whoisWindow(), window.data());
        QCOMPARE(w.strWhoisQuery, QStringLiteral("second.example"));
        peer->write("first answer\n");
        peer->disconnectFromHost();
        auto *answerBox = qobject_cast<frmWhois *>(window.data())->text1;
        QTRY_COMPARE_WITH_TIMEOUT(answerBox->toPlainText(), QStringLiteral("first answer\n"), 5000);
        QVERIFY(!whois.hasPendingConnections());

        // Closed, it loads again on the next click and runs the stored query.
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.whoisWindow(), 5000);
        w.cmdWhois->click();
        auto [again, secondLine] = query();
        QVERIFY(again);
        QCOMPARE(secondLine, QByteArray("second.example\r\n"));
        QVERIFY(w.whoisWindow());

        // The main window's close sequence unloads it with its connection.
        w.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.whoisWindow(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(again->state(), QAbstractSocket::UnconnectedState, 5000);
    }

    void layoutMatchesTheDesign()
    {
        Rig rig;
        Form1 &w = rig.create();
        QCOMPARE(w.centralWidget()->size(), QSize(502, 357));
        QCOMPARE(w.Frame1->geometry(), QRect(4, 4, 245, 137));
        QCOMPARE(w.Label1->geometry(), QRect(40, 100, 189, 21));
        QCOMPARE(w.txtStatus->geometry(), QRect(4, 332, 493, 19));
        QVERIFY(w.txtStatus->isReadOnly());
        QCOMPARE(w.txtStatus->focusPolicy(), Qt::NoFocus);
        QVERIFY(!w.cmdSend->isVisibleTo(&w));
        QVERIFY(w.Frame3->font().bold());
        QVERIFY(w.Command1->font().bold());
        QVERIFY(!w.Check1->font().bold());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(w.Label1->textFormat(), Qt::PlainText);
        QCOMPARE(w.cmbRefresh->currentIndex(), -1);
        QCOMPARE(w.cmbRefresh->currentText(), QStringLiteral("10 Minutes"));
    }
};

NETQUILL_TEST(Form1Test)
#include "Form1Test.moc"

#include "LookupCycle.h"
#include "FileReplacements.h"
#include "PageFetcher.h"
#include "ScriptedHttpServer.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

Q_DECLARE_METATYPE(ScriptedHttpServer::Response)

namespace {
const QByteArray PagePath = "/extras/GetExternalIP.asp";
using Response = ScriptedHttpServer::Response;

/// A lookup cycle over a real fetch from a scripted server, with its own empty store.
struct Rig {
    TempSettings temp;
    SettingsStore store{QStringLiteral("Netquill")};
    ScriptedHttpServer server;
    PageFetcher fetcher;
    QString localIp = QStringLiteral("192.168.1.20");
    std::unique_ptr<LookupCycle> cycle;
    QString status;
    QList<IpSnapshot> shown;
    QList<bool> completions;

    explicit Rig(const QString &path = QString::fromLatin1(PagePath))
    {
        fetcher.setTimeout(1000);
        cycle = std::make_unique<LookupCycle>(store, &fetcher, server.url(path), [this] { return localIp; });
        QObject::connect(cycle.get(), &LookupCycle::statusChanged,
                         [this](const QString &text) { status = text; });
        QObject::connect(cycle.get(), &LookupCycle::addressesShown,
                         [this](const IpSnapshot &current) { shown.append(current); });
        QObject::connect(cycle.get(), &LookupCycle::finished, [this](const LookupResult &result) {
            if (result.answered())
                completions.append(result.changed);
        });
    }
    void seed(const QString &internal, const QString &external)
    {
        store.SaveSetting(SettingKeys::OldInternal, internal);
        store.SaveSetting(SettingKeys::OldExternal, external);
        cycle->LoadPrevious();
    }
    bool runOnce()
    {
        cycle->Refresh();
        return QTest::qWaitFor([this] { return status != LookupCycle::StatusLooking; }, 5000);
    }
};
} // namespace

class LookupCycleTest : public QObject {
    Q_OBJECT
private slots:
    void firstRunStoresWithoutAChange()
    {
        Rig rig;
        rig.cycle->LoadPrevious();
        QCOMPARE(rig.cycle->previous().external, QStringLiteral("0"));
        rig.server.setResponse(PagePath, Response::ok("203.0.113.7"));
        QVERIFY(rig.runOnce());
        QCOMPARE(rig.status, QStringLiteral("Finished looking up IPs"));
        QCOMPARE(rig.completions, QList<bool>{false});
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldInternal), QStringLiteral("192.168.1.20"));
        QCOMPARE(rig.cycle->previous().internal, QStringLiteral("192.168.1.20"));
    }

    void bothAddressesAreStoredInOneReplacementOfTheFile()
    {
        Rig rig;
        rig.seed(QStringLiteral("192.168.1.9"), QStringLiteral("198.51.100.1"));
        rig.server.setResponse(PagePath, Response::ok("203.0.113.7", "text/plain"));
        FileReplacements replacements(rig.store.fileName());
        if (!replacements.supported())
            QSKIP("needs inotify");
        QVERIFY(rig.runOnce());
        QCOMPARE(rig.status, LookupCycle::StatusFinished);
        rig.store.WaitForWrites(); // the file is written behind the status
        QCOMPARE(replacements.renamedOver(), 1);
        QCOMPARE(replacements.writtenInPlace(), 0);
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldInternal), QStringLiteral("192.168.1.20"));
    }

    void changeDetection_data()
    {
        QTest::addColumn<QString>("oldInternal");
        QTest::addColumn<QString>("oldExternal");
        QTest::addColumn<QString>("localIp");
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("shownExternal");

        const QString lan = QStringLiteral("192.168.1.20");
        const QString wan = QStringLiteral("203.0.113.7");
        QTest::newRow("nothing changed") << lan << wan << lan << QByteArray("203.0.113.7") << false << wan;
        QTest::newRow("only internal")
            << lan << wan << "192.168.1.21" << QByteArray("203.0.113.7") << true << wan;
        QTest::newRow("only external")
            << lan << wan << lan << QByteArray("198.51.100.4") << true << "198.51.100.4";
        QTest::newRow("both, one flag")
            << lan << wan << "10.0.0.2" << QByteArray("198.51.100.4") << true << "198.51.100.4";
        QTest::newRow("internal unknown, internal moves")
            << "0" << wan << "10.0.0.2" << QByteArray("203.0.113.7") << false << wan;
        QTest::newRow("internal unknown, external moves")
            << "0" << wan << "10.0.0.2" << QByteArray("198.51.100.4") << true << "198.51.100.4";
        QTest::newRow("bold markup kept verbatim")
            << lan << wan << lan << QByteArray("<b>203.0.113.7</b>") << true << "<b>203.0.113.7</b>";
        QTest::newRow("upper-case tag as a browser gives it")
            << lan << wan << lan << QByteArray("<B>203.0.113.7</B>") << true << "<b>203.0.113.7</b>";
        QTest::newRow("trailing line break")
            << lan << wan << lan << QByteArray("203.0.113.7\n") << true << "203.0.113.7\n";
        QTest::newRow("stored value with trailing space")
            << lan << "203.0.113.7 " << lan << QByteArray("203.0.113.7") << true << wan;
        QTest::newRow("letter case counts")
            << lan << "fe80::A" << lan << QByteArray("fe80::a") << true << "fe80::a";
    }
    void changeDetection()
    {
        QFETCH(QString, oldInternal);
        QFETCH(QString, oldExternal);
        QFETCH(QString, localIp);
        QFETCH(QByteArray, page);
        QFETCH(bool, changed);
        QFETCH(QString, shownExternal);

        Rig rig;
        rig.seed(oldInternal, oldExternal);
        rig.localIp = localIp;
        rig.server.setResponse(PagePath, Response::ok(page));
        QVERIFY(rig.runOnce());
        QCOMPARE(rig.status, QStringLiteral("Finished looking up IPs"));
        QCOMPARE(rig.shown.size(), 1);
        QCOMPARE(rig.shown.first().external, shownExternal);
        QCOMPARE(rig.shown.first().internal, localIp);
        QCOMPARE(rig.completions, QList<bool>{changed});
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldExternal), shownExternal);
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldInternal), localIp);

        // The next cycle with the same addresses compares against what was just stored.
        rig.status.clear();
        QVERIFY(rig.runOnce());
        QCOMPARE(rig.completions, (QList<bool>{changed, false}));
    }

    void failuresLeaveEverythingUntouched_data()
    {
        QTest::addColumn<Response>("response"); // none: the server is closed
        QTest::addColumn<bool>("serverUp");
        const auto row = [](const char *name, const Response &response) {
            QTest::newRow(name) << response << true;
        };
        row("ERROR in the text", Response::ok("Internal Server ERROR 203.0.113.7"));
        row("error as a tag name", Response::ok("<error>203.0.113.7</error>"));
        row("error in an attribute name", Response::ok("<img src=x onError=\"1\">203.0.113.7"));
        row("HTTP 500", Response::status(500, "203.0.113.7"));
        row("HTTP 404", Response::status(404, "203.0.113.7"));
        row("server never answers", Response::hang());
        row("oversized body", Response::ok(QByteArray(1 << 20, '7')));
        row("empty page", Response::ok("<html><body></body></html>"));
        row("cut-off body", Response::ok("203.0.113.").header("Content-Length", "1000"));
        // Pages that make the HTML parser abort.
        row("select in foreignObject", Response::ok("<table><svg><select><foreignObject><select><td>"));
        row("select in mi", Response::ok("<table><math><select><mi><select><td>"));
        row("select in mi, tr", Response::ok("<table><math><select><mi><select><tr>"));
        QTest::newRow("refused connection") << Response() << false;
    }
    void failuresLeaveEverythingUntouched()
    {
        QFETCH(Response, response);
        QFETCH(bool, serverUp);
        Rig rig;
        rig.seed(QStringLiteral("192.168.1.20"), QStringLiteral("198.51.100.1"));
        if (serverUp)
            rig.server.setResponse(PagePath, response);
        else
            rig.server.close();

        QVERIFY(rig.runOnce());
        QCOMPARE(rig.status, QStringLiteral("Error: Connection not available."));
        QVERIFY(rig.shown.isEmpty());
        QVERIFY(rig.completions.isEmpty());
        QCOMPARE(rig.cycle->previous().external, QStringLiteral("198.51.100.1"));
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldExternal), QStringLiteral("198.51.100.1"));
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldInternal), QStringLiteral("192.168.1.20"));
    }

    void completionForAnotherLocationIsIgnored()
    {
        Rig rig;
        rig.seed(QStringLiteral("192.168.1.20"), QStringLiteral("198.51.100.1"));
        rig.server.setResponse(PagePath, Response::redirect("/somewhere/else.html"));
        rig.server.setResponse("/somewhere/else.html", Response::ok("203.0.113.9"));
        QSignalSpy complete(&rig.fetcher, &PageFetcher::DownloadComplete);
        rig.cycle->Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(complete.count(), 1, 5000);
        QCOMPARE(rig.status, QStringLiteral("Looking up your IPs..."));
        QVERIFY(rig.shown.isEmpty());
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldExternal), QStringLiteral("198.51.100.1"));
    }

    void locationTestIgnoresLetterCase()
    {
        Rig rig(QStringLiteral("/EXTRAS/getexternalip.asp"));
        rig.server.setResponse("/EXTRAS/getexternalip.asp", Response::ok("203.0.113.7"));
        QVERIFY(rig.runOnce());
        QCOMPARE(rig.status, QStringLiteral("Finished looking up IPs"));
    }

    void refreshWhilePendingOnlyTheNewestCompletes()
    {
        Rig rig;
        rig.fetcher.setTimeout(5000);
        rig.server.enqueue(PagePath, Response::ok("198.51.100.1").delayed(400));
        rig.server.enqueue(PagePath, Response::ok("203.0.113.7"));
        rig.cycle->Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(rig.server.requests().size(), 1, 5000);
        rig.cycle->Refresh();
        QTRY_COMPARE_WITH_TIMEOUT(rig.completions.size(), 1, 5000);
        QTest::qWait(600); // past the first answer's delay
        QCOMPARE(rig.completions.size(), 1);
        QCOMPARE(rig.shown.last().external, QStringLiteral("203.0.113.7"));
        QCOMPARE(rig.store.GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
    }
};

NETQUILL_TEST(LookupCycleTest)
#include "LookupCycleTest.moc"

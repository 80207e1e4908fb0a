#include "Form1Rig.h"
#include "ProcMaps.h"
#include "ProcessStop.h"
#include "SkinEngine.h"
#include "TestMain.h"
#include "WebsiteModule.h"
#include "XvfbDisplay.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

namespace {
const QByteArray WebEngine = "libQt6WebEngine";

int visibleWindows()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return int(
        std::count_if(windows.cbegin(), windows.cend(), [](const QWidget *w) { return w->isVisible(); }));
}
} // namespace

/// "Visit": the web engine is mapped only once the browser window opens, and the browser window
/// decides the program's end once the main window has gone.
class WebsiteTest : public QObject {
    Q_OBJECT
    QObject m_skin;

    // The website on the rig's server; nothing leaves this machine.
    void pointWebsiteAt(Rig &rig)
    {
        rig.server.setResponse("/site.html", Response::ok("<html><head><title>Site</title></head></html>"));
        modIdentity::Identity().strWebsite = rig.server.hostAndPort() + QStringLiteral("/site.html");
    }

private slots:
    void init()
    {
        WebsiteModule::blnExitPending = false;
        modSkin::Engine()->SetSkin(&m_skin);
        modSkin::Engine()->Start();
    }

    // Runs first: once the engine is in this process, it stays.
    void visitWithoutTheLibraryShowsNothing()
    {
        Rig rig;
        Form1 &window = rig.load();
        pointWebsiteAt(rig);
        window.show();
        QTemporaryDir empty;
        window.setModuleFolder(empty.path());
        const int shown = visibleWindows();
        window.cmdWebsite->click();
        QVERIFY(!window.websiteWindow());
        QCOMPARE(visibleWindows(), shown);
        QCOMPARE(mappingsOf(QStringLiteral("self"), WebEngine), 0);
        QVERIFY(window.isVisible());
        QCOMPARE(rig.endCalls, 0);
    }

    void startedProgramHasNoWebEngine()
    {
        TempSettings temp;
        ScriptedHttpServer server;
        server.setResponse(PagePath, Response::ok("203.0.113.7"));
        NETQUILL_REQUIRE(XvfbDisplay::missing());
        XvfbDisplay xvfb;
        QVERIFY2(xvfb.start(), qPrintable(xvfb.error()));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), xvfb.display());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), temp.path());
        env.insert(QStringLiteral("NETQUILL_IP_HOST"), server.hostAndPort());
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/netquill"), {});
        QVERIFY(program.waitForStarted(5000));
        // The first lookup is the main window's last load step: by then the program is all up.
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor(PagePath).isEmpty(), 20000);
        QTest::qWait(500);
        const QString pid = QString::number(program.processId());
        QVERIFY(mappingsOf(pid, "libQt6Widgets") > 0); // the map is read, and it is the program's
        QCOMPARE(mappingsOf(pid, WebEngine), 0);
        QCOMPARE(mappingsOf(pid, "netquill_website"), 0);
        stopProcess(program);
    }

    void visitMapsWebEngineAndOpensTheWindow()
    {
        Rig rig;
        Form1 &window = rig.load();
        pointWebsiteAt(rig);
        window.show();
        QCOMPARE(mappingsOf(QStringLiteral("self"), WebEngine), 0);

        window.cmdWebsite->click();
        QWidget *website = window.websiteWindow();
        QVERIFY(website);
        QVERIFY(website->isVisible());
        QVERIFY(mappingsOf(QStringLiteral("self"), WebEngine) > 0);
        QTRY_COMPARE_WITH_TIMEOUT(website->windowTitle(), QStringLiteral("Site"), 30000);
        // A second "Visit" shows the loaded window again; it does not load another.
        window.cmdWebsite->click();
        QCOMPARE(window.websiteWindow(), website);
        QCOMPARE(rig.server.requestsFor("/site.html").size(), 1);
        delete website;
    }

    void closing_data()
    {
        QTest::addColumn<bool>("mainWindowFirst");
        QTest::newRow("main window, then browser") << true;
        QTest::newRow("browser, then main window") << false;
    }
    void closing()
    {
        QFETCH(bool, mainWindowFirst);
        Rig rig;
        Form1 &window = rig.load();
        pointWebsiteAt(rig);
        window.show();
        window.cmdWebsite->click();
        QPointer<QWidget> website = window.websiteWindow();
        QVERIFY(website);

        if (mainWindowFirst) {
            window.close();
            QVERIFY(WebsiteModule::blnExitPending);
            QCOMPARE(rig.endCalls, 0);
            QVERIFY(modSkin::Engine()->isRunning());
            QVERIFY(website->isVisible());
            website->close();
            QCOMPARE(rig.endCalls, 1);
            QVERIFY(!modSkin::Engine()->isRunning());
        } else {
            website->close();
            QCOMPARE(rig.endCalls, 0);
            QVERIFY(modSkin::Engine()->isRunning());
            QVERIFY(window.isVisible());
            // Unloaded: the next "Visit" loads a new window.
            QTRY_VERIFY(!website);
            QVERIFY(!window.websiteWindow());
            window.close();
            QVERIFY(!WebsiteModule::blnExitPending);
            QCOMPARE(rig.endCalls, 1);
        }
        delete website;
    }
};

NETQUILL_TEST(WebsiteTest)
#include "WebsiteTest.moc"

#include "AddressMonitor.h"
#include "Form1.h"
#include "FreePort.h"
#include "SettingsStore.h"
#include "Skin.h"
#include "SkinEngine.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "frmSplash.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class SplashTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        // Lookups started by the main window go to a closed local port, never outside.
        qputenv("NETQUILL_IP_HOST", QByteArray("127.0.0.1:") + QByteArray::number(FreePort::pick()));
    }

    void mainWindowOnThe75thTickOnlyOnce()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        AddressMonitor monitor(store);
        frmSplash splash(monitor, store);
        splash.Form_Load();
        splash.Timer2->stop(); // the test drives the ticks
        splash.show();
        QSignalSpy shown(&splash, &frmSplash::mainWindowShown);
        QCOMPARE(splash.Image1->pixmap().size(), QSize(476, 316));
        QVERIFY(splash.testAttribute(Qt::WA_WState_Created));
        for (int tick = 1; tick < 75; ++tick) {
            splash.Timer2_Timer();
            QVERIFY2(!splash.mainWindow(), qPrintable(QStringLiteral("shown early, on tick %1").arg(tick)));
        }
        splash.Timer2_Timer();
        QVERIFY(splash.mainWindow());
        QVERIFY(splash.mainWindow()->isVisible());
        QVERIFY(!splash.isVisible()); // hidden, not closed: it keeps hosting the skin
        QVERIFY(!splash.Timer2->isActive());
        // Hidden for good, it keeps neither its picture nor a window buffer.
        QVERIFY(splash.Image1->pixmap().isNull());
        QVERIFY(!splash.testAttribute(Qt::WA_WState_Created));
        Form1 *first = splash.mainWindow();
        for (int tick = 0; tick < 100; ++tick)
            splash.Timer2_Timer();
        QCOMPARE(shown.count(), 1);
        QCOMPARE(splash.mainWindow(), first);
        QCOMPARE(splash.ticks(), 150);
        first->setEndProgram([] {});
        delete first;
    }

    void realTimerHandsOverOnce()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        AddressMonitor monitor(store);
        frmSplash splash(monitor, store);
        QSignalSpy shown(&splash, &frmSplash::mainWindowShown);
        splash.Form_Load();
        splash.show();
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 10000);
        QTest::qWait(100);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(modSkin::CurrentSkin(), splash.skn);
        QVERIFY(modSkin::Engine()->isRunning());
        QCOMPARE(modSkin::Engine()->skin(), splash.skn->Object());
        QCOMPARE(splash.size(), QSize(478, 318));
        QCOMPARE(splash.mainWindow()->windowTitle(), QStringLiteral("Netquill by Velmora"));
        splash.mainWindow()->setEndProgram([] {});
        delete splash.mainWindow();
    }

    void identityIsStableAcrossLoads()
    {
        modIdentity::LoadProductIdentity();
        const ProductIdentity first = modIdentity::Identity();
        modIdentity::LoadProductIdentity();
        const ProductIdentity &second = modIdentity::Identity();
        QCOMPARE(second.strProgramName, QStringLiteral("Netquill"));
        QCOMPARE(second.strCompany, QStringLiteral("Velmora"));
        QCOMPARE(second.strWebsite, first.strWebsite);
        QVERIFY(second.blnSkinEnabled);
        // A bare domain name: no scheme, no path.
        QVERIFY(!second.strWebsite.contains(QLatin1Char('/')));
        QVERIFY(second.strWebsite.contains(QLatin1Char('.')));
        QCOMPARE(modIdentity::VersionText(), QStringLiteral("2.0"));
    }
};

NETQUILL_TEST(SplashTest)
#include "SplashTest.moc"

#include "AddressMonitor.h"
#include "Form1.h"
#include "LookupCycle.h"
#include "NginxServer.h"
#include "SettingsStore.h"
#include "SkinLabel.h"
#include "TempSettings.h"
#include "TestMain.h"
#include "Winsock.h"

#include <QLineEdit>
#include <QTest>

/// The real page from the deploy/ snippet, served by a real nginx on 127.0.0.1.
class NginxLookupTest : public QObject {
    Q_OBJECT
private slots:
    void realPageIsFetchedShownAndStored()
    {
        TempSettings temp;
        NETQUILL_REQUIRE(NginxServer::missing());
        NginxServer nginx;
        QVERIFY2(nginx.start(QStringLiteral(NETQUILL_SOURCE_DIR "/deploy/netquill-external-ip.conf")),
                 qPrintable(nginx.error()));
        qputenv("NETQUILL_IP_HOST", nginx.hostPort().toLatin1());
        SettingsStore settings(QStringLiteral("Netquill"));
        AddressMonitor monitor(settings);
        Form1 window(monitor, settings);
        window.setEndProgram([] {});
        window.Form_Load();
        QTRY_COMPARE_WITH_TIMEOUT(window.txtStatus->text(), QStringLiteral("Finished looking up IPs"), 10000);
        // nginx sees the test connect from the loopback address, and says so as the whole page.
        QCOMPARE(window.Label1->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(window.Label2->text(), Winsock::LocalIP());
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("127.0.0.1"));
        QCOMPARE(store.GetSetting(SettingKeys::OldInternal), Winsock::LocalIP());
    }
};

NETQUILL_TEST(NginxLookupTest)
#include "NginxLookupTest.moc"

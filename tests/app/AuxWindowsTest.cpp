#include "Form1Rig.h"
#include "Form2.h"
#include "Form8.h"
#include "IpSourceList.h"
#include "PageFetcher.h"
#include "PictureBox.h"
#include "SkinLabel.h"
#include "TestMain.h"
#include "frmAbout.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

class AuxWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void overlaySwitchAndHideStayInStep()
    {
        Rig rig;
        Form1 &w = rig.load();
        QTRY_VERIFY_WITH_TIMEOUT(w.overlayWindow() && rig.ended == rig.lookups, 5000);
        Form2 *overlay = w.overlayWindow();
        const int lookups = rig.lookups;

        w.Command2->click();
        QVERIFY(overlay->isVisible());
        QCOMPARE(w.Command2->text(), QStringLiteral("Turn off IP Address Overlay"));
        QCOMPARE(overlay->pos(), QPoint(0, 0));
        QCOMPARE(overlay->size(), QSize(237, 48));
        QVERIFY(overlay->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(overlay->windowFlags() & Qt::FramelessWindowHint);

        overlay->mnuPopupItem[1]->trigger(); // "Hide"
        QVERIFY(!overlay->isVisible());
        QCOMPARE(w.Command2->text(), QStringLiteral("Turn on IP Address Overlay"));
        w.mnuPopupItem[1]->trigger(); // the tray's switch shows it again, with what it last received
        QVERIFY(overlay->isVisible());
        QCOMPARE(overlay->Label2->text(), QStringLiteral("203.0.113.7"));
        QCOMPARE(w.overlayWindow(), overlay);
        QCOMPARE(rig.lookups, lookups); // showing again is no new load

        overlay->mnuPopupItem[0]->trigger(); // "Refresh"
        QCOMPARE(rig.lookups, lookups + 1);
    }

    void overlayMenuOpensOnRightReleaseOverBackgroundAndCaptions_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("opens");
        QTest::newRow("background, right") << "background" << int(Qt::RightButton) << true;
        QTest::newRow("Label3, right") << "Label3" << int(Qt::RightButton) << true;
        QTest::newRow("Label4, right") << "Label4" << int(Qt::RightButton) << true;
        QTest::newRow("background, left") << "background" << int(Qt::LeftButton) << false;
        QTest::newRow("Label3, middle") << "Label3" << int(Qt::MiddleButton) << false;
        QTest::newRow("address, right") << "Label1" << int(Qt::RightButton) << false;
    }
    void overlayMenuOpensOnRightReleaseOverBackgroundAndCaptions()
    {
        QFETCH(QString, target);
        QFETCH(int, button);
        QFETCH(bool, opens);
        Form2 overlay;
        overlay.show();
        QVERIFY(QTest::qWaitForWindowExposed(&overlay));
        QWidget *widget = &overlay;
        if (target == "Label3")
            widget = overlay.Label3;
        else if (target == "Label4")
            widget = overlay.Label4;
        else if (target == "Label1")
            widget = overlay.Label1;
        const QPoint where = target == "background" ? QPoint(230, 44) : QPoint(5, 5);
        QTest::mouseRelease(widget, Qt::MouseButton(button), {}, where);
        QTRY_COMPARE_WITH_TIMEOUT(overlay.mnuPopup->isVisible(), opens, opens ? 5000 : 100);
        overlay.mnuPopup->hide();
    }

    void helpWindow_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("stored"); // null: never stored
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<int>("box"); // the box's state once shown
        QTest::newRow("present, unset") << true << QString() << true << int(Qt::Checked);
        QTest::newRow("present, 0") << true << "0" << false << int(Qt::Unchecked);
        QTest::newRow("present, leading zero") << true << "01" << false << int(Qt::Checked);
        QTest::newRow("present, not a number") << true << "yes" << false << int(Qt::Checked);
        QTest::newRow("absent") << false << QString() << false << -1;
    }
    void helpWindow()
    {
        QFETCH(bool, present);
        QFETCH(QString, stored);
        QFETCH(bool, atStart);
        QFETCH(int, box);
        QTemporaryDir folder;
        if (present)
            QVERIFY(QFile::copy(QStringLiteral(NETQUILL_SOURCE_DIR "/resources/Help.rtf"),
                                folder.filePath("HELP.RTF")));
        Rig rig;
        if (!stored.isNull())
            rig.seed("showHelp", stored);
        Form1 &w = rig.create();
        w.setHelpFolder(folder.path());
        w.Form_Load();
        QCOMPARE(w.helpWindow() && w.helpWindow()->isVisible(), atStart);

        if (w.helpWindow())
            w.helpWindow()->close();
        w.mnuHelpItem[0]->trigger();
        Form8 *help = w.helpWindow();
        QVERIFY(help);
        QCOMPARE(help->isVisible(), present);
        if (!present) {
            w.mnuHelpItem[0]->trigger(); // stays loaded and hidden, for good
            QCOMPARE(w.helpWindow(), help);
            QVERIFY(!help->isVisible());
            return;
        }
        QVERIFY(help->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(help->rtf1->toPlainText().contains(QStringLiteral("Netquill")));
        QVERIFY(!help->rtf1->toPlainText().contains(QStringLiteral("\\rtf")));
        // The help names every source the Address Sources window offers.
        for (const IpSource &source : IpSourceList::publicServices())
            QVERIFY2(help->rtf1->toPlainText().contains(source.url.host()), qPrintable(source.url.host()));
        QCOMPARE(int(help->Check1->checkState()), box);
        help->Check1->click();
        const QString written = SettingsStore(QStringLiteral("Netquill")).GetSetting(SettingKeys::ShowHelp);
        QCOMPARE(written, help->Check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }

    void aboutBox()
    {
        Rig rig;
        Form1 &w = rig.load();
        w.mnuAboutItem[0]->trigger();
        frmAbout *about = w.aboutWindow();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("About Netquill"));
        QCOMPARE(about->Label1->text(), QStringLiteral("Netquill"));
        QCOMPARE(about->lblVersion->text(), QStringLiteral("2.0"));
        QCOMPARE(about->lblCompany->text(), QStringLiteral("Velmora"));
        QCOMPARE(about->lblWebsite->text(), QStringLiteral("netquill.example.com"));
        QCOMPARE(about->Picture1->pixmap().size(), QSize(501, 69));
        w.mnuAboutItem[0]->trigger();
        QCOMPARE(w.aboutWindow(), about);
        about->close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.aboutWindow(), 5000); // closing unloads it
    }
};

NETQUILL_TEST(AuxWindowsTest)
#include "AuxWindowsTest.moc"

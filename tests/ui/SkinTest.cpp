#include "Skin.h"
#include "SkinEngine.h"
#include "SkinLabel.h"
#include "TestMain.h"

#include <QFile>
#include <QPalette>
#include <QTemporaryFile>
#include <QTest>
#include <QWidget>

class SkinTest : public QObject {
    Q_OBJECT
private slots:
    void standardSkinColours()
    {
        // Read from the data file linked into the program, not from the fallback.
        QVERIFY(QFile::exists(QStringLiteral(":/skins/standard.skin")));
        Skin skin;
        QCOMPARE(skin.Title(), QStringLiteral("Standard Skin"));
        // 32-bit values with red in the low byte.
        QCOMPARE(skin.BackgroundColor(), 0xFFFFFFu);
        QCOMPARE(skin.TextColor(), 0x000000u);
        QCOMPARE(skin.PanelColor(), 0x96BED2u); // red 210, green 190, blue 150
        QCOMPARE(skin.PanelTextColor(), 0x000000u);
        QCOMPARE(Skin::toColor(skin.PanelColor()), QColor(210, 190, 150));
    }

    void unreadableDataFallsBackToTheStandardSkin_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("garbage");
        QTest::newRow("three colours")
            << QByteArray("{\"title\":\"X\",\"colors\":[\"#000\",\"#111\",\"#222\"]}");
        QTest::newRow("bad colour") << QByteArray(
            "{\"title\":\"X\",\"colors\":[\"#000\",\"nope\",\"#222\",\"#333\"]}");
    }
    void unreadableDataFallsBackToTheStandardSkin()
    {
        QFETCH(QByteArray, content);
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(content);
        file.close();
        Skin skin(file.fileName());
        QCOMPARE(skin.Title(), QStringLiteral("Standard Skin"));
        QCOMPARE(skin.PanelColor(), 0x96BED2u);
    }

    void applyColoursTheWindow()
    {
        Skin skin;
        QWidget window;
        skin.ApplySkin(&window);
        QCOMPARE(window.palette().color(QPalette::Window), QColor(210, 190, 150));
        QCOMPARE(window.palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(window.palette().color(QPalette::Text), QColor(Qt::black));
    }

    void engineRunsOnlyWithASkin()
    {
        SkinEngine engine;
        engine.Start();
        QVERIFY(!engine.isRunning());
        Skin skin;
        engine.SetSkin(skin.Object());
        engine.Start();
        QVERIFY(engine.isRunning());
        engine.Stop();
        QVERIFY(!engine.isRunning());
    }

    void skinLabelNeverRendersMarkup()
    {
        SkinLabel label(QStringLiteral("<b>203.0.113.7</b>"));
        QCOMPARE(label.textFormat(), Qt::PlainText);
        QCOMPARE(label.Caption(), QStringLiteral("<b>203.0.113.7</b>"));
    }
};

NETQUILL_TEST(SkinTest)
#include "SkinTest.moc"

#include "WebsiteLayout.h"
#include "TestMain.h"

#include <QTest>

/// The browser window's layout rules, worked out without a window.
class WebsiteLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void compute_data()
    {
        QTest::addColumn<float>("W");
        QTest::addColumn<float>("H");
        QTest::addColumn<float>("statusBar");
        QTest::addColumn<QList<float>>("expected"); // panel 1, panel 2, frame h, frame w, Text1 w,
                                                    // Command3 left, browser w, browser h
        QTest::newRow("full-hd screen")
            << 28800.f << 16200.f << 315.f
            << QList<float>{14400, 14400, 15885, 28500, 26865, 27505, 28280, 13630};
        QTest::newRow("odd width halves exactly")
            << 10545.f << 9090.f << 315.f
            << QList<float>{5272.5f, 5272.5f, 8775, 10245, 8610, 9250, 10025, 6520};
        // Below 2255 twips of frame height the browser's height folds over: its absolute value, not 0.
        QTest::newRow("very small") << 1500.f << 1200.f << 315.f
                                    << QList<float>{750, 750, 885, 1200, 435, 1075, 980, 1370};
        QTest::newRow("lower than the status bar")
            << 200.f << 200.f << 315.f << QList<float>{100, 100, 115, 100, 1535, 2175, 120, 2140};
    }
    void compute()
    {
        QFETCH(float, W);
        QFETCH(float, H);
        QFETCH(float, statusBar);
        QFETCH(QList<float>, expected);
        const WebsiteLayout l = WebsiteLayout::compute(W, H, statusBar);
        const QList<float> actual{l.panel1Width, l.panel2Width,  l.frmBrowserHeight, l.frmBrowserWidth,
                                  l.Text1Width,  l.Command3Left, l.WebBrowser1Width, l.WebBrowser1Height};
        QCOMPARE(actual, expected);
        // However the address box's width came out, "Go" sits 100 twips right of its right edge.
        QCOMPARE(l.Command3Left, WebsiteLayout::Text1Left + l.Text1Width + 100);
    }
};

NETQUILL_TEST(WebsiteLayoutTest)
#include "WebsiteLayoutTest.moc"

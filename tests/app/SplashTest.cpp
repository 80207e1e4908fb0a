// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class SplashTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(SplashTest)
#include "SplashTest.moc"

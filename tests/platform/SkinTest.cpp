// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class SkinTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(SkinTest)
#include "SkinTest.moc"

// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class RefreshScheduleTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(RefreshScheduleTest)
#include "RefreshScheduleTest.moc"

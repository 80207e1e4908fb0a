// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class AddRemoveTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(AddRemoveTest)
#include "AddRemoveTest.moc"

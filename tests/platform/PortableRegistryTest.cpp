// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class PortableRegistryTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(PortableRegistryTest)
#include "PortableRegistryTest.moc"

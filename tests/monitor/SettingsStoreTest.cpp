// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class SettingsStoreTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(SettingsStoreTest)
#include "SettingsStoreTest.moc"

// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class PageFetcherTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(PageFetcherTest)
#include "PageFetcherTest.moc"

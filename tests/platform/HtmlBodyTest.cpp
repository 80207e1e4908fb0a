// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class HtmlBodyTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(HtmlBodyTest)
#include "HtmlBodyTest.moc"

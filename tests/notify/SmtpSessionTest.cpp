// placeholder, to be written
#include "TestMain.h"
#include <QTest>
class SmtpSessionTest : public QObject {
    Q_OBJECT
private slots:
    void pending() { QSKIP("not written yet"); }
};
NETQUILL_TEST(SmtpSessionTest)
#include "SmtpSessionTest.moc"

#include "RefreshSchedule.h"
#include "TestMain.h"

#include <QTest>

class RefreshScheduleTest : public QObject {
    Q_OBJECT
private slots:
    void threshold_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("expected"); // -2: threshold left as it was
        QTest::newRow("no item") << -1 << 60;
        QTest::newRow("01 Minute") << 0 << 60;
        QTest::newRow("05 Minutes") << 1 << 300;
        QTest::newRow("10 Minutes") << 2 << 600;
        QTest::newRow("30 Minutes") << 3 << 1800;
        QTest::newRow("60 Minutes") << 4 << 3600;
        QTest::newRow("beyond the list") << 5 << -2;
        QTest::newRow("below -1") << -2 << -2;
    }
    void threshold()
    {
        QFETCH(int, position);
        QFETCH(int, expected);
        RefreshSchedule schedule;
        schedule.applyInterval(3);
        schedule.applyInterval(position);
        QCOMPARE(*schedule.threshold(), expected == -2 ? 1800 : expected);
    }

    void firstLookupOnThe60thTick()
    {
        RefreshSchedule schedule;
        schedule.applyInterval(0);
        for (int i = 1; i < 60; ++i)
            QVERIFY2(!schedule.tick(), qPrintable(QString::number(i)));
        QVERIFY(schedule.tick());
        QCOMPARE(schedule.ticks(), 0);
        for (int i = 1; i < 60; ++i)
            QVERIFY(!schedule.tick());
        QVERIFY(schedule.tick());
    }

    void shorterIntervalFiresOnTheNextTickWithoutReset()
    {
        RefreshSchedule schedule;
        schedule.applyInterval(2);
        for (int i = 0; i < 400; ++i)
            QVERIFY(!schedule.tick());
        schedule.applyInterval(1);
        QCOMPARE(schedule.ticks(), 400);
        QVERIFY(schedule.tick());
        for (int i = 1; i < 300; ++i)
            QVERIFY(!schedule.tick());
        QVERIFY(schedule.tick());
    }

    void neverFiresWithoutAThreshold()
    {
        RefreshSchedule schedule;
        for (int i = 0; i < 5000; ++i)
            QVERIFY(!schedule.tick());
    }
};

NETQUILL_TEST(RefreshScheduleTest)
#include "RefreshScheduleTest.moc"

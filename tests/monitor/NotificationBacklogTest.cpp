#include "NotificationBacklog.h"
#include "SettingsStore.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QTest>

/// Which notice clears the unsent mark when notices and their results overlap.
class NotificationBacklogTest : public QObject {
    Q_OBJECT
private slots:
    void markFollowsTheNewestNotice_data();
    void markFollowsTheNewestNotice();
};

void NotificationBacklogTest::markFollowsTheNewestNotice_data()
{
    // Steps: "c" a lookup with a change, "u" one without, "x" a send the model refuses; "S<n>", "F<n>"
    // and "R<n>" the result of job n: sent, failed, refused by the mail thread (a session runs).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("sends");
    QTest::addColumn<QString>("pending");
    QTest::addColumn<QList<bool>>("ends");
    QTest::newRow("sent") << QStringList{"c", "S1"} << 1 << "0" << QList<bool>{true};
    QTest::newRow("failed, sent again after the next lookup")
        << QStringList{"c", "F1", "u", "S2"} << 2 << "0" << QList<bool>{false, true};
    QTest::newRow("a lookup while the notice is under way waits for it")
        << QStringList{"c", "u", "S1", "u"} << 1 << "0" << QList<bool>{true};
    QTest::newRow("a newer change refused while the older is sent stays marked")
        << QStringList{"c", "c", "R2", "S1"} << 2 << "1" << QList<bool>{false};
    QTest::newRow("the newer change goes out after the next lookup")
        << QStringList{"c", "c", "R2", "S1", "u", "S3"} << 3 << "0" << QList<bool>{false, true};
    QTest::newRow("refused before a session") << QStringList{"x"} << 0 << "1" << QList<bool>{false};
    QTest::newRow("a test message's end is not the notice's")
        << QStringList{"c", "S7"} << 1 << "1" << QList<bool>{};
}

void NotificationBacklogTest::markFollowsTheNewestNotice()
{
    QFETCH(QStringList, steps);
    QFETCH(int, sends);
    QFETCH(QString, pending);
    QFETCH(QList<bool>, ends);
    TempSettings temp;
    SettingsStore store(QStringLiteral("Netquill"));
    quint64 jobs = 0;
    bool refuse = false;
    NotificationBacklog backlog(store, [&] { return refuse ? 0 : ++jobs; });
    QList<bool> ended;
    connect(&backlog, &NotificationBacklog::ended, this, [&](bool delivered) { ended << delivered; });

    for (const QString &step : steps) {
        refuse = step == QLatin1String("x");
        if (step == QLatin1String("c") || refuse)
            backlog.LookupCompleted(true);
        else if (step == QLatin1String("u"))
            backlog.LookupCompleted(false);
        else
            backlog.SendFinished({step.mid(1).toULongLong(), step[0] != u'R', step[0] == u'S', {}});
    }
    QCOMPARE(int(jobs), sends);
    QCOMPARE(store.GetSetting(SettingKeys::NotifyPending), pending);
    QCOMPARE(ended, ends);
}

NETQUILL_TEST(NotificationBacklogTest)
#include "NotificationBacklogTest.moc"

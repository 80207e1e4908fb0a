#include "NotifierLock.h"
#include "ProcessStop.h"
#include "TestMain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

/// The lock that keeps the desktop program from mailing a change the service mails too, held by a
/// real other process.
class NotifierLockTest : public QObject {
    Q_OBJECT
private slots:
    void heldElsewhere_data()
    {
        QTest::addColumn<QString>("holder"); // "none", "alive", "alive, long" or "killed"
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("nobody holds it") << "none" << false;
        QTest::newRow("held by a live process") << "alive" << true;
        // A service runs for months: the age of its lock must not make it stale.
        QTest::newRow("held for an hour by a live process") << "alive, long" << true;
        QTest::newRow("left by a killed process") << "killed" << false;
    }

    void heldElsewhere()
    {
        QFETCH(QString, holder);
        QFETCH(bool, elsewhere);
        QTemporaryDir folder;
        QProcess process;
        const auto stop = qScopeGuard([&] { stopProcess(process); });
        if (holder != QLatin1String("none")) {
            process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lock_holder"),
                          {folder.path()});
            QVERIFY(process.waitForReadyRead(5000));
            QCOMPARE(process.readLine().trimmed(), QByteArray("held"));
            if (holder == QLatin1String("alive, long")) {
                QFile file(QDir(folder.path()).filePath(NotifierLock::FileName));
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                         QFileDevice::FileModificationTime));
            }
            if (holder == QLatin1String("killed")) {
                process.kill();
                QVERIFY(process.waitForFinished(5000));
            }
        }

        NotifierLock lock(folder.path());
        QCOMPARE(lock.heldElsewhere(), elsewhere);
        // Looking takes nothing away: the holder keeps the lock, and a free one stays free.
        QCOMPARE(lock.heldElsewhere(), elsewhere);
        QCOMPARE(lock.acquire(), !elsewhere);
        // Taken, it is no one else's.
        QCOMPARE(lock.heldElsewhere(), elsewhere);
    }
};

NETQUILL_TEST(NotifierLockTest)
#include "NotifierLockTest.moc"

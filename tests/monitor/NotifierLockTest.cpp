#include "NotifierLock.h"
#include "ProcessStop.h"
#include "TestMain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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

    void failureSaysWhy_data()
    {
        // %t: the test's folder, which holds the file "file"; %pid and %host: the holder's.
        QTest::addColumn<QString>("folder"); // the settings folder given to the lock
        QTest::addColumn<QString>("setUp");  // "", "holder", "lock is a folder" or a mode for %t/ro
        QTest::addColumn<QString>("why");
        QTest::newRow("held") << "%t"
                              << "holder"
                              << "held by lock_holder, process %pid on %host";
        QTest::newRow("folder is a file") << "%t/file"
                                          << ""
                                          << "%t/file is not a folder";
        QTest::newRow("above it a file") << "%t/file/Netquill"
                                         << ""
                                         << "%t/file is not a folder";
        QTest::newRow("lock file a folder") << "%t"
                                            << "lock is a folder"
                                            << "%t/notifier.lock is a folder";
        QTest::newRow("folder read-only") << "%t/ro"
                                          << "0555"
                                          << "cannot write in the folder %t/ro: %denied";
        QTest::newRow("above it read-only") << "%t/ro/Netquill"
                                            << "0555"
                                            << "cannot create the folder %t/ro/Netquill: %denied";
    }
    void failureSaysWhy()
    {
        QFETCH(QString, folder);
        QFETCH(QString, setUp);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QProcess process;
        const auto stop = qScopeGuard([&] { stopProcess(process); });
        if (setUp == QLatin1String("holder")) {
            process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/lock_holder"),
                          {dir.path()});
            QVERIFY(process.waitForReadyRead(5000));
            QCOMPARE(process.readLine().trimmed(), QByteArray("held"));
            why.replace(QStringLiteral("%pid"), QString::number(process.processId()))
                .replace(QStringLiteral("%host"), QSysInfo::machineHostName());
        } else if (setUp == QLatin1String("lock is a folder")) {
            QVERIFY(QDir(dir.path()).mkdir(NotifierLock::FileName));
        } else if (!setUp.isEmpty()) {
            if (::geteuid() == 0)
                QSKIP("root writes in any folder");
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ro")));
            QVERIFY(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("ro"))).constData(),
                            mode_t(setUp.toUInt(nullptr, 8))) == 0);
            why.replace(QStringLiteral("%denied"), QString::fromLocal8Bit(std::strerror(EACCES)));
        }
        NotifierLock lock(folder.replace(QStringLiteral("%t"), dir.path()));
        QVERIFY(!lock.acquire());
        QCOMPARE(lock.errorText(), why.replace(QStringLiteral("%t"), dir.path()));
    }
};

NETQUILL_TEST(NotifierLockTest)
#include "NotifierLockTest.moc"

#include "ServerPassword.h"
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(ServerPassword::Outcome)

namespace {
void write(const QString &fileName, const QByteArray &text, QFile::Permissions permissions)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}
} // namespace

/// Where the service takes the mail password from when no keyring answers, and what it refuses.
class ServerPasswordTest : public QObject {
    Q_OBJECT
private slots:
    void find_data()
    {
        using Outcome = ServerPassword::Outcome;
        QTest::addColumn<QByteArray>("credential"); // empty: no credential
        QTest::addColumn<QString>("setting");       // the passwordFile setting
        QTest::addColumn<QByteArray>("file");       // written to "pw" in the settings folder
        QTest::addColumn<int>("mode");              // its permissions, octal
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("result"); // the password, or the start of the problem

        const QString others = QStringLiteral("Error: The mail password file may be read by others");
        QTest::newRow("nothing set") << QByteArray() << "" << QByteArray("x") << 0600 << Outcome::None << "";
        QTest::newRow("owner-only file, line break dropped")
            << QByteArray() << "pw" << QByteArray("s3cret word\r\nignored\n") << 0600 << Outcome::Found
            << "s3cret word";
        QTest::newRow("read-only for the owner")
            << QByteArray() << "pw" << QByteArray("s3cret") << 0400 << Outcome::Found << "s3cret";
        QTest::newRow("group may read")
            << QByteArray() << "pw" << QByteArray("s3cret") << 0640 << Outcome::Refused << others;
        QTest::newRow("anyone may read")
            << QByteArray() << "pw" << QByteArray("s3cret") << 0644 << Outcome::Refused << others;
        QTest::newRow("group may write")
            << QByteArray() << "pw" << QByteArray("s3cret") << 0620 << Outcome::Refused << others;
        QTest::newRow("missing file") << QByteArray() << "absent" << QByteArray("s3cret") << 0600
                                      << Outcome::Refused << "Error: The mail password file cannot be read.";
        QTest::newRow("named pipe") << QByteArray() << "fifo" << QByteArray("s3cret") << 0600
                                    << Outcome::Refused << "Error: The mail password file cannot be read.";
        QTest::newRow("empty first line") << QByteArray() << "pw" << QByteArray("\ns3cret") << 0600
                                          << Outcome::Refused << "Error: The mail password file is empty.";
        QTest::newRow("too long") << QByteArray() << "pw" << QByteArray(ServerPassword::SizeLimit + 1, 'a')
                                  << 0600 << Outcome::Refused
                                  << "Error: The mail password file cannot be read.";
        QTest::newRow("credential that reports no size, longer than the bound")
            << QByteArray("/proc/self/smaps") << "" << QByteArray() << 0600 << Outcome::Refused
            << "Error: The mail password file cannot be read.";
        QTest::newRow("credential before the file")
            << QByteArray("from-systemd\n") << "pw" << QByteArray("s3cret") << 0644 << Outcome::Found
            << "from-systemd";
        QTest::newRow("credential alone")
            << QByteArray("from-systemd") << "" << QByteArray() << 0600 << Outcome::Found << "from-systemd";
    }

    void find()
    {
        QFETCH(QByteArray, credential);
        QFETCH(QString, setting);
        QFETCH(QByteArray, file);
        QFETCH(int, mode);
        QFETCH(ServerPassword::Outcome, outcome);
        QFETCH(QString, result);
        QTemporaryDir folder, credentials;
        const QByteArray oldCredentials = qgetenv("CREDENTIALS_DIRECTORY");
        if (credential.isEmpty()) {
            qunsetenv("CREDENTIALS_DIRECTORY");
        } else {
            qputenv("CREDENTIALS_DIRECTORY", credentials.path().toLocal8Bit());
            const QString name = QDir(credentials.path()).filePath(ServerPassword::CredentialName);
            // A file of /proc is linked to, not copied.
            if (credential.startsWith("/proc/"))
                QVERIFY(QFile::link(QString::fromLatin1(credential), name));
            else
                write(name, credential, QFile::ReadOwner);
        }
        const auto permissions =
            QFile::Permissions::fromInt(((mode & 0700) << 6) | ((mode & 070) << 1) | (mode & 07));
        write(QDir(folder.path()).filePath(QStringLiteral("pw")), file, permissions);
        // Opened for reading, a pipe would hold the service until something wrote to it.
        QCOMPARE(::mkfifo(QFile::encodeName(QDir(folder.path()).filePath(QStringLiteral("fifo"))), 0600), 0);

        const ServerPassword found = ServerPassword::find(setting, folder.path());
        qputenv("CREDENTIALS_DIRECTORY", oldCredentials);
        QCOMPARE(found.outcome, outcome);
        if (outcome == ServerPassword::Outcome::Found)
            QCOMPARE(found.password, result);
        else if (outcome == ServerPassword::Outcome::Refused)
            QVERIFY2(found.problem.startsWith(result), qPrintable(found.problem));
    }
};

NETQUILL_TEST(ServerPasswordTest)
#include "ServerPasswordTest.moc"

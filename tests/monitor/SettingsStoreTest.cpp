#include "SettingsStore.h"
#include "FileReplacements.h"
#include "MailSettings.h"
#include "Module6464.h"
#include "ProcessStop.h"
#include "SettingsFileFormat.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
/// Puts a settings file in place in the given config folder, as a user or an earlier build left it.
bool placeStoreFile(const QString &configDir, const QByteArray &contents)
{
    QFile file(configDir + QStringLiteral("/Netquill/Netquill.conf"));
    return QDir().mkpath(configDir + QStringLiteral("/Netquill")) && file.open(QIODevice::WriteOnly) &&
           file.write(contents) == contents.size();
}

/// A key as a program started afresh reads it from a copy of the file: within one process QSettings
/// keeps what it last wrote to a file and does not parse that file again.
QString readFromCopy(const QString &fileName, const SettingKeys::Key &key)
{
    QFile file(fileName);
    TempSettings fresh;
    if (!file.open(QIODevice::ReadOnly) || !placeStoreFile(fresh.path(), file.readAll()))
        return QStringLiteral("(no copy)");
    return SettingsStore(QStringLiteral("Netquill")).GetSetting(key);
}

QByteArray contents(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

/// The names a save of the store in `folder` makes there besides the file and its lock: what the
/// writer calls its temporary file. Empty without inotify.
QStringList createdBySave(const QString &folder)
{
    QStringList names;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return names;
    const auto close = qScopeGuard([fd] { ::close(fd); });
    if (inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_FROM) < 0)
        return names;
    SettingsStore store(QStringLiteral("Netquill"));
    store.SaveSetting(SettingKeys::Refresh, QStringLiteral("7"));
    if (!store.WaitForWrites())
        return {QStringLiteral("(save failed)")};
    alignas(inotify_event) char buffer[4096];
    for (ssize_t length; (length = ::read(fd, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            const QString name = QFile::decodeName(event->name);
            if (event->len > 0 && !names.contains(name) && name != QLatin1String("Netquill.conf") &&
                name != QLatin1String("Netquill.conf.lock"))
                names.append(name);
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    return names;
}
} // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT
private slots:
    void defaultsOnAnEmptyStore()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        for (const auto &key : SettingKeys::All)
            QCOMPARE(store.GetSetting(key), QString::fromUtf8(key.defaultValue));
        QCOMPARE(store.GetSetting(SettingKeys::ShowHelp), QStringLiteral("1"));
        QCOMPARE(store.GetSetting(SettingKeys::Port), QStringLiteral("25"));
        QVERIFY(store.keys().isEmpty());

        MailSettings mail;
        Module6464::LoadMailSettings(store, mail);
        QCOMPARE(mail.strPort, QStringLiteral("25"));
        QCOMPARE(mail.strServer, QString::fromUtf8(SettingKeys::Server.defaultValue));
        QCOMPARE(mail.strEmailTo, QString::fromUtf8(SettingKeys::EmailTo.defaultValue));
        QCOMPARE(mail.strEmailFrom, QString::fromUtf8(SettingKeys::EmailFrom.defaultValue));
        QVERIFY(store.keys().isEmpty()); // reading writes nothing
    }

    void verbatimRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("trailing spaces") << QStringLiteral("203.0.113.7  ");
        QTest::newRow("leading space") << QStringLiteral(" 1");
        QTest::newRow("empty") << QString();
        QTest::newRow("markup") << QStringLiteral("<b>203.0.113.7</b>");
        QTest::newRow("line breaks") << QStringLiteral("203.0.113.7\r\n\n");
        QTest::newRow("commas") << QStringLiteral("a, b,c");
        QTest::newRow("quotes and backslashes") << QStringLiteral("\"C:\\x\" ;#=");
        QTest::newRow("looks like a Qt type") << QStringLiteral("@Variant(abc)");
        QTest::newRow("at sign") << QStringLiteral("@");
        QTest::newRow("non-ASCII") << QStringLiteral("adrès ü 日本");
        QTest::newRow("in quotes") << QStringLiteral("\"x\"");
        QTest::newRow("control characters") << QString::fromUtf8("\x01"
                                                                 "f\t\0"
                                                                 "7 x",
                                                                 7);
        QTest::newRow("number text") << QStringLiteral("007");
        QTest::newRow("boolean word") << QStringLiteral("true");
    }
    void verbatimRoundTrip()
    {
        QFETCH(QString, value);
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSetting(SettingKeys::OldExternal, value);
        QVERIFY(store.WaitForWrites());
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), value);
        QCOMPARE(store.keys(), QStringList{QStringLiteral("OldExternal")});
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::OldExternal), value);
        // Earlier builds and other tools read the file with QSettings' own INI reader.
        QCOMPARE(QSettings(store.fileName(), QSettings::IniFormat)
                     .value(QStringLiteral("Settings/OldExternal"))
                     .toString(),
                 value);

        // A file that earlier builds wrote through QSettings' own INI writer reads the same.
        QTemporaryDir legacyDir;
        const QString legacyFile = legacyDir.filePath(QStringLiteral("Netquill.conf"));
        QSettings(legacyFile, QSettings::NativeFormat)
            .setValue(QStringLiteral("Settings/OldExternal"), value);
        QCOMPARE(readFromCopy(legacyFile, SettingKeys::OldExternal), value);
    }

    void handEditedValueReadsAsItsText_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected"); // strEmailFrom
        QTest::newRow("unquoted commas") << QByteArray("[Settings]\nstrEmailFrom=a,b,c\n") << "a,b,c";
        QTest::newRow("spaces kept, CRLF")
            << QByteArray("[Settings]\r\nstrEmailFrom=a , b,  c \r\nrefresh=0\r\n") << "a , b,  c ";
        QTest::newRow("Latin-1 byte") << QByteArray("[Settings]\nstrEmailFrom=caf\xe9\n") << "caf\u00e9";
        QTest::newRow("UTF-8") << QByteArray("[Settings]\nstrEmailFrom=caf\xc3\xa9\n") << "caf\u00e9";
        QTest::newRow("semicolon and quotes")
            << QByteArray("[Settings]\nstrEmailFrom=Jo \"JJ\" <j@x>; k=v\n") << "Jo \"JJ\" <j@x>; k=v";
        QTest::newRow("garbage, NUL, huge line")
            << QByteArrayLiteral(
                   "\0\xff[\n=\n[Settings\nno equals\n[Settings]\n; note\nstrEmailFrom=a\0b\n") +
                   QByteArray(300000, '=') + "\n"
            << QString::fromUtf8("a\0b", 3);
    }
    void handEditedValueReadsAsItsText()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        TempSettings temp;
        QVERIFY(placeStoreFile(temp.path(), file));
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::EmailFrom), expected);
        store.SaveSetting(SettingKeys::Refresh, QStringLiteral("1")); // rewrites the whole file
        QVERIFY(store.WaitForWrites());
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::EmailFrom), expected);
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::Refresh), QStringLiteral("1"));
    }

    void failedSaveKeepsTheFileAndTheValue_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("room"); // bytes a file may have
        QByteArray small(
            "[Settings]\nOldExternal=203.0.113.7\nOldInternal=10.0.0.5\nstrServer=mail.example.org\n"
            "strPort=587\nstrEmailTo=me@example.org\nipSources=http://a.example/ip\nrefresh=0\n");
        QByteArray large("[Settings]\nOldExternal=203.0.113.7\nrefresh=0\n");
        for (int i = 0; i < 110; ++i)
            large += "k" + QByteArray::number(i) + '=' + QByteArray(80, 'x') + '\n';
        QTest::newRow("small file, room for 57 bytes") << small << 57;
        QTest::newRow("9 KB file, room for 4096 bytes") << large << 4096;
    }
    void failedSaveKeepsTheFileAndTheValue()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, room);
        TempSettings temp;
        QVERIFY(placeStoreFile(temp.path(), file));
        const QString fileName = temp.path() + QStringLiteral("/Netquill/Netquill.conf");
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"));
        writer.setArguments({QStringLiteral("--limit"), QString::number(room), QStringLiteral("OldExternal"),
                             QStringLiteral("198.51.100.99")});
        writer.start();
        QVERIFY(QTest::qWaitFor(
            [&] {
                writer.waitForReadyRead(100);
                return writer.canReadLine();
            },
            10000));
        // Reported as failed, the value still answered, the old file there byte for byte.
        QCOMPARE(QString::fromUtf8(writer.readLine()).trimmed(),
                 QStringLiteral("failed|198.51.100.99|Settings not saved: ") +
                     QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(contents(fileName), file);
        QCOMPARE(QDir(temp.path() + QStringLiteral("/Netquill")).entryList(QDir::Files),
                 (QStringList{QStringLiteral("Netquill.conf"), QStringLiteral("Netquill.conf.lock")}));
        // The next save, with room again, writes the kept value too.
        writer.write("\n");
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitCode(), 0);
        QCOMPARE(readFromCopy(fileName, SettingKeys::OldExternal), QStringLiteral("198.51.100.99"));
        QCOMPARE(readFromCopy(fileName, SettingKeys::Refresh), QStringLiteral("1"));
        QSettings::SettingsMap expected = SettingsFileFormat::parse(file);
        expected.insert(QStringLiteral("Settings/OldExternal"), QStringLiteral("198.51.100.99"));
        expected.insert(QStringLiteral("Settings/refresh"), QStringLiteral("1"));
        QCOMPARE(SettingsFileFormat::parse(contents(fileName)), expected);
    }

    // Another program's file replaced by garbage or emptied: a reload keeps the options read last, and
    // a save writes them back beside the new value, keeping the garbage aside.
    void fileThatNoLongerReadsAsSettings_data()
    {
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<bool>("keptAside");
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) % 251);
        QTest::newRow("random bytes") << noise << true;
        QTest::newRow("emptied") << QByteArray() << false;
    }
    void fileThatNoLongerReadsAsSettings()
    {
        QFETCH(QByteArray, replacement);
        QFETCH(bool, keptAside);
        TempSettings temp;
        QVERIFY(placeStoreFile(temp.path(), "[Settings]\nemailNotify=1\nstrServer=mail.example.org\n"));
        SettingsStore store(QStringLiteral("Netquill"));
        QFile file(store.fileName());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(replacement);
        file.close();
        store.Reload();
        QCOMPARE(store.GetSetting(SettingKeys::EmailNotify), QStringLiteral("1"));
        store.SaveSetting(SettingKeys::OldExternal, QStringLiteral("203.0.113.7"));
        QVERIFY(store.WaitForWrites());
        store.Reload();
        QCOMPARE(store.GetSetting(SettingKeys::Server), QStringLiteral("mail.example.org"));
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::EmailNotify), QStringLiteral("1"));
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        const QStringList aside = QDir(QFileInfo(store.fileName()).path())
                                      .entryList({QStringLiteral("Netquill.conf.damaged-*")}, QDir::Files);
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside)
            QCOMPARE(contents(QFileInfo(store.fileName()).path() + u'/' + aside.first()), replacement);
    }

    void largeFile_data()
    {
        QTest::addColumn<int>("mebibytes");
        QTest::addColumn<bool>("saved");
        QTest::newRow("2 MiB, every key kept") << 2 << true;
        QTest::newRow("17 MiB, not rewritten") << 17 << false;
    }
    void largeFile()
    {
        QFETCH(int, mebibytes);
        QFETCH(bool, saved);
        // A long hand-made source list, and the mail settings after it.
        QByteArray file("[Settings]\nipSources=");
        for (int i = 0; file.size() < mebibytes << 20; ++i)
            file += "http://203.0.113.1/ip/" + QByteArray::number(i) + ',';
        file += "\nstrServer=mail.example.org\nstrEmailTo=me@example.org\n";
        TempSettings temp;
        QVERIFY(placeStoreFile(temp.path(), file));
        SettingsStore store(QStringLiteral("Netquill"));
        QSignalSpy failed(&store, &SettingsStore::saveFailed);
        store.SaveSetting(SettingKeys::Refresh, QStringLiteral("1"));
        QCOMPARE(store.WaitForWrites(), saved);
        QCOMPARE(failed.count() > 0, !saved);
        QCOMPARE(store.GetSetting(SettingKeys::Refresh), QStringLiteral("1"));
        if (!saved) {
            QCOMPARE(contents(store.fileName()), file);
            return;
        }
        QSettings::SettingsMap expected = SettingsFileFormat::parse(file);
        expected.insert(QStringLiteral("Settings/refresh"), QStringLiteral("1"));
        QCOMPARE(SettingsFileFormat::parse(contents(store.fileName())), expected);
        QCOMPARE(store.GetSetting(SettingKeys::IpSources),
                 expected.value(QStringLiteral("Settings/ipSources")));
    }

    void namedPipeIsNeitherReadNorReplaced()
    {
        // Opened for reading, a pipe would hold the program until something wrote to it.
        TempSettings temp;
        const QString fileName = SettingsStore(QStringLiteral("Netquill")).fileName();
        QVERIFY(QDir().mkpath(QFileInfo(fileName).absolutePath()));
        QCOMPARE(::mkfifo(QFile::encodeName(fileName).constData(), 0600), 0);
        SettingsStore store(QStringLiteral("Netquill"));
        QSignalSpy failed(&store, &SettingsStore::saveFailed);
        QCOMPARE(store.GetSetting(SettingKeys::Server), QLatin1String(SettingKeys::Server.defaultValue));
        store.SaveSetting(SettingKeys::Refresh, QStringLiteral("1"));
        QVERIFY(!store.WaitForWrites());
        QVERIFY(!failed.isEmpty());
        QCOMPARE(failed.first().first().toString(),
                 QStringLiteral("Settings not saved: Netquill.conf is not a regular file"));
        QVERIFY(QFileInfo(fileName).exists() && !QFileInfo(fileName).isFile());
    }

    void strayKeySlashesReadAsQSettingsSpellsThem()
    {
        // Typed keys with slashes at either end or doubled: written back, they must read the same again.
        QByteArray file("[\\]\nstray=1\n[General]\n\\lead=2\n[a\\\\b\\]\nc\\=3\n");
        QBuffer in(&file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QSettings::SettingsMap read;
        QVERIFY(SettingsFileFormat::read(in, read));
        const QSettings::SettingsMap expected{{QStringLiteral("stray"), QStringLiteral("1")},
                                              {QStringLiteral("lead"), QStringLiteral("2")},
                                              {QStringLiteral("a/b/c"), QStringLiteral("3")}};
        QCOMPARE(read, expected);

        QByteArray written;
        QBuffer out(&written);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(SettingsFileFormat::write(out, read));
        out.close();
        QVERIFY(out.open(QIODevice::ReadOnly));
        QSettings::SettingsMap reread;
        QVERIFY(SettingsFileFormat::read(out, reread));
        QCOMPARE(reread, expected);
    }

    void storeLivesInTheUsersConfigFolder_data()
    {
        // Paths: "-" unset, %t the test's folder, which holds the folders config and home and a file.
        QTest::addColumn<QString>("xdgConfigHome");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("why");  // whyNoConfigFolder; a save fails with it
        QTest::addColumn<QString>("file"); // where a save goes when there is a config folder
        QTest::newRow("XDG_CONFIG_HOME") << "%t/config"
                                         << "%t/home"
                                         << ""
                                         << "%t/config/Netquill/Netquill.conf";
        QTest::newRow("HOME, .config made in it") << "-"
                                                  << "%t/home"
                                                  << ""
                                                  << "%t/home/.config/Netquill/Netquill.conf";
        QTest::newRow("relative XDG_CONFIG_HOME ignored") << "config"
                                                          << "%t/home"
                                                          << ""
                                                          << "%t/home/.config/Netquill/Netquill.conf";
        QTest::newRow("HOME not set") << "-"
                                      << "-"
                                      << "HOME is not set"
                                      << "";
        QTest::newRow("HOME empty") << "-"
                                    << ""
                                    << "HOME is not set"
                                    << "";
        QTest::newRow("HOME missing") << "-"
                                      << "%t/missing"
                                      << "HOME (%t/missing) does not exist"
                                      << "";
        QTest::newRow("HOME a file") << "-"
                                     << "%t/file"
                                     << "HOME (%t/file) is not a folder"
                                     << "";
        QTest::newRow("HOME relative") << "-"
                                       << "netquill-relative-home"
                                       << "HOME (netquill-relative-home) is not an absolute path"
                                       << "";
        QTest::newRow("XDG_CONFIG_HOME missing, made") << "%t/new/config"
                                                       << "%t/home"
                                                       << ""
                                                       << "%t/new/config/Netquill/Netquill.conf";
    }
    void storeLivesInTheUsersConfigFolder()
    {
        QFETCH(QString, xdgConfigHome);
        QFETCH(QString, home);
        QFETCH(QString, why);
        QFETCH(QString, file);
        if (home == QLatin1String("-") && QFileInfo::exists(QStringLiteral("/.config/Netquill")))
            QSKIP("/.config/Netquill exists: a store without HOME finds its folder there");
        QTemporaryDir dir;
        // A relative HOME is taken from here; and a broken store would make /.config/Netquill, as the
        // service run without HOME once did, which is taken away again.
        const QString cwd = QDir::currentPath();
        const bool rootConfig = QFileInfo::exists(QStringLiteral("/.config"));
        const auto back = qScopeGuard([&] {
            QDir::setCurrent(cwd);
            QDir(rootConfig ? QStringLiteral("/.config/Netquill") : QStringLiteral("/.config"))
                .removeRecursively();
        });
        QVERIFY(QDir::setCurrent(dir.path()));
        const QStringList made{QStringLiteral("config"), QStringLiteral("file"), QStringLiteral("home")};
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("config")) &&
                QDir(dir.path()).mkpath(QStringLiteral("home")));
        QFile plain(dir.filePath(QStringLiteral("file")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const auto restore = qScopeGuard(
            [xdg = qgetenv("XDG_CONFIG_HOME"), xdgSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME"),
             homeWas = qgetenv("HOME"), homeSet = qEnvironmentVariableIsSet("HOME")] {
                xdgSet ? qputenv("XDG_CONFIG_HOME", xdg) : qunsetenv("XDG_CONFIG_HOME");
                homeSet ? qputenv("HOME", homeWas) : qunsetenv("HOME");
            });
        const auto inDir = [&](QString text) { return text.replace(QStringLiteral("%t"), dir.path()); };
        for (const auto &[name, value] :
             {std::pair{"XDG_CONFIG_HOME", xdgConfigHome}, std::pair{"HOME", home}}) {
            if (value == QLatin1String("-"))
                qunsetenv(name);
            else
                qputenv(name, inDir(value).toLocal8Bit());
        }

        QCOMPARE(SettingsStore::whyNoConfigFolder(), inDir(why));
        {
            SettingsStore store(QStringLiteral("Netquill"));
            QSignalSpy failed(&store, &SettingsStore::saveFailed);
            store.SaveSetting(SettingKeys::Refresh, QStringLiteral("1"));
            QCOMPARE(store.WaitForWrites(), why.isEmpty());
            if (why.isEmpty()) {
                QCOMPARE(store.fileName(), inDir(file));
                QCOMPARE(readFromCopy(store.fileName(), SettingKeys::Refresh), QStringLiteral("1"));
            } else {
                QVERIFY(!failed.isEmpty());
                QCOMPARE(failed.first().first().toString(),
                         QStringLiteral("Settings not saved: ") + inDir(why));
                QCOMPARE(store.GetSetting(SettingKeys::Refresh),
                         QStringLiteral("1")); // kept for the next save
            }
        }
        // A home is never made; a missing XDG_CONFIG_HOME is, and every folder made and the new file
        // are the user's alone.
        const bool xdgMade = xdgConfigHome.startsWith(QLatin1String("%t/new"));
        const QStringList entries = xdgMade ? made + QStringList{QStringLiteral("new")} : made;
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), entries);
        const auto mode = [](const QString &path) {
            struct stat info {};
            return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
        };
        if (!file.isEmpty()) {
            QCOMPARE(mode(inDir(file)), 0600);
            for (QString folder = QFileInfo(inDir(file)).path(); folder.size() > dir.path().size();
                 folder = QFileInfo(folder).path()) {
                if (folder != inDir(home) && folder != dir.filePath(QStringLiteral("config")))
                    QCOMPARE(mode(folder), 0700);
            }
        }
        QVERIFY(!QFileInfo::exists(QStringLiteral("/.config/Netquill")));
    }

    void leftoversOfUnfinishedSavesAreRemoved_data()
    {
        QTest::addColumn<QString>("name");  // "(the writer's)": the name the writer gives its own
        QTest::addColumn<bool>("lockHeld"); // by another save in progress when this one starts
        QTest::addColumn<bool>("removed");
        QTest::newRow("a killed save's") << "Netquill.conf.AbCxYz" << false << true;
        QTest::newRow("as the writer names it") << "(the writer's)" << false << true;
        QTest::newRow("another save in progress") << "Netquill.conf.AbCxYz" << true << true;
        QTest::newRow("backup") << "Netquill.conf.bak" << false << false;
        QTest::newRow("dated backup") << "Netquill.conf.202405" << false << false;
        QTest::newRow("five letters") << "Netquill.conf.AbCxY" << false << false;
        QTest::newRow("seven letters") << "Netquill.conf.AbCxYzW" << false << false;
        QTest::newRow("another file's") << "Other.conf.AbCxYz" << false << false;
        QTest::newRow("other case") << "netquill.conf.AbCxYz" << false << false;
    }
    void leftoversOfUnfinishedSavesAreRemoved()
    {
        QFETCH(QString, name);
        QFETCH(bool, lockHeld);
        QFETCH(bool, removed);
        TempSettings temp;
        QVERIFY(placeStoreFile(temp.path(), "[Settings]\nrefresh=0\n"));
        const QString folder = temp.path() + QStringLiteral("/Netquill");
        if (name == QLatin1String("(the writer's)")) {
            const QStringList created = createdBySave(folder);
            if (created.isEmpty())
                QSKIP("needs inotify");
            QCOMPARE(created.size(), 1);
            name = created.first();
        }
        QFile leftover(folder + u'/' + name);
        QVERIFY(leftover.open(QIODevice::WriteOnly) && leftover.write("[Settings]\nrefresh=2\n") > 0);
        leftover.close();

        QFile lockFile(folder + QStringLiteral("/Netquill.conf.lock"));
        QVERIFY(lockFile.open(QIODevice::WriteOnly));
        if (lockHeld)
            QCOMPARE(::flock(lockFile.handle(), LOCK_EX | LOCK_NB), 0);
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSetting(SettingKeys::Refresh, QStringLiteral("1"));
        if (lockHeld) {
            // The other save may be about to rename that file: it stays, and so does the old file.
            QTest::qSleep(300);
            QVERIFY(leftover.exists());
            QCOMPARE(contents(store.fileName()), QByteArray("[Settings]\nrefresh=0\n"));
            QCOMPARE(::flock(lockFile.handle(), LOCK_UN), 0);
        }
        QVERIFY(store.WaitForWrites());
        QCOMPARE(leftover.exists(), !removed);
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::Refresh), QStringLiteral("1"));
    }

    void killRightAfterAWriteLosesNothing()
    {
        TempSettings temp;
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"));
        writer.setArguments({QStringLiteral("OldExternal"), QStringLiteral("198.51.100.23 ")});
        writer.start();
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("198.51.100.23 "));
    }

    void valuesSavedTogetherReplaceTheFileAsAWhole()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("198.51.100.1")},
                            {SettingKeys::OldInternal, QStringLiteral("192.168.1.20")}});
        QVERIFY(store.WaitForWrites());
        // A reader that opened the file before the save must still see the whole old file: the new
        // one is written beside it and renamed over it, never rewritten in place where a crash could
        // leave one new address beside one old one.
        QFile before(store.fileName());
        QVERIFY(before.open(QIODevice::ReadOnly));
        FileReplacements replacements(store.fileName());
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")},
                            {SettingKeys::OldInternal, QStringLiteral("10.0.0.5")}});
        QVERIFY(store.WaitForWrites());
        if (replacements.supported()) {
            // One new file for both values: no moment where the file held one new and one old.
            QCOMPARE(replacements.renamedOver(), 1);
            QCOMPARE(replacements.writtenInPlace(), 0);
        }
        const QByteArray old = before.readAll();
        QVERIFY2(old.contains("OldExternal=198.51.100.1\n") && old.contains("OldInternal=192.168.1.20\n"),
                 old);
        QVERIFY(!old.contains("203.0.113.7") && !old.contains("10.0.0.5"));
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::OldInternal), QStringLiteral("10.0.0.5"));
        QCOMPARE(QDir(temp.path() + QStringLiteral("/Netquill")).entryList(QDir::Files),
                 (QStringList{QStringLiteral("Netquill.conf"), QStringLiteral("Netquill.conf.lock")}));
    }

    void savingWhatTheFileHoldsLeavesItAlone()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")},
                            {SettingKeys::OldInternal, QStringLiteral("10.0.0.5")}});
        QVERIFY(store.WaitForWrites());
        FileReplacements replacements(store.fileName());
        if (!replacements.supported())
            QSKIP("needs inotify");
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")},
                            {SettingKeys::OldInternal, QStringLiteral("10.0.0.5")}});
        store.SaveSetting(SettingKeys::OldInternal, QStringLiteral("10.0.0.5"));
        QVERIFY(store.WaitForWrites());
        QCOMPARE(replacements.renamedOver(), 0);
        // One value differing is enough for a write, and an empty value differs from a missing key.
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")},
                            {SettingKeys::OldInternal, QStringLiteral("10.0.0.6")}});
        QVERIFY(store.WaitForWrites());
        QCOMPARE(replacements.renamedOver(), 1);
        store.SaveSettings({{SettingKeys::EmailTo, QString()}});
        QVERIFY(store.WaitForWrites());
        QCOMPARE(replacements.renamedOver(), 2);
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::OldInternal), QStringLiteral("10.0.0.6"));
        QVERIFY(store.keys().contains(QStringLiteral("strEmailTo")));
    }

    void aValueEditedInTheFileIsSavedAgain()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")}});
        QVERIFY(store.WaitForWrites());
        // Another program (or the user) changes the file behind the store's back.
        QVERIFY(placeStoreFile(temp.path(), "[Settings]\nOldExternal=198.51.100.99\n"));
        QFile edited(store.fileName());
        QVERIFY(edited.open(QIODevice::ReadWrite));
        QVERIFY(
            edited.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        edited.close();
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")}});
        QVERIFY(store.WaitForWrites());
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
    }

    void killRightAfterSavingTogetherLosesNeither()
    {
        TempSettings temp;
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"));
        writer.setArguments(
            {QStringLiteral("--both"), QStringLiteral("203.0.113.7"), QStringLiteral("10.0.0.5")});
        writer.start();
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QCOMPARE(store.GetSetting(SettingKeys::OldInternal), QStringLiteral("10.0.0.5"));
    }

    void saveReturnsBeforeTheDiskAndIsReadAtOnce()
    {
        TempSettings temp;
        SettingsStore store(QStringLiteral("Netquill"));
        store.SaveSetting(SettingKeys::Refresh, QStringLiteral("0"));
        QVERIFY(store.WaitForWrites());
        // Edited by hand meanwhile, then held under a lease: the writer's read of it waits until the
        // lease is let go below, so a save that went to the disk before returning would never return.
        {
            QFile edited(store.fileName());
            QVERIFY(edited.open(QIODevice::WriteOnly));
            edited.write("[Settings]\nrefresh=1\n");
        }
        QFile held(store.fileName());
        QVERIFY(held.open(QIODevice::ReadOnly));
        const auto oldSigio = ::signal(SIGIO, SIG_IGN); // what the kernel sends when the writer opens it
        QCOMPARE(::fcntl(held.handle(), F_SETLEASE, F_WRLCK), 0);
        QElapsedTimer clock;
        clock.start();
        store.SaveSettings({{SettingKeys::OldExternal, QStringLiteral("203.0.113.7")},
                            {SettingKeys::OldInternal, QStringLiteral("10.0.0.5")}});
        store.SaveSetting(SettingKeys::OldExternal, QStringLiteral("198.51.100.1"));
        store.SaveTypedSetting(SettingKeys::EmailTo, QStringLiteral("me@example.org"));
        const QStringList readAtOnce{store.GetSetting(SettingKeys::OldExternal),
                                     store.GetSetting(SettingKeys::OldInternal),
                                     store.GetSetting(SettingKeys::EmailTo)};
        // The kernel lets a reader through after 45 s (fs.lease-break-time) even if the lease is held.
        QVERIFY2(clock.elapsed() < 10000, "a save waited for the disk");
        QCOMPARE(::fcntl(held.handle(), F_SETLEASE, F_UNLCK), 0);
        ::signal(SIGIO, oldSigio);
        held.close();

        const QStringList expected{QStringLiteral("198.51.100.1"), QStringLiteral("10.0.0.5"),
                                   QStringLiteral("me@example.org")};
        QCOMPARE(readAtOnce, expected);
        // In the order saved, the typed value with them, over what the file held.
        QVERIFY(store.WaitForWrites());
        QCOMPARE((QStringList{readFromCopy(store.fileName(), SettingKeys::OldExternal),
                              readFromCopy(store.fileName(), SettingKeys::OldInternal),
                              readFromCopy(store.fileName(), SettingKeys::EmailTo)}),
                 expected);
        QCOMPARE(readFromCopy(store.fileName(), SettingKeys::Refresh), QStringLiteral("1"));
    }

    void backgroundSaveIsWrittenWhenTheEventLoopEnds()
    {
        TempSettings temp;
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"));
        writer.setArguments(
            {QStringLiteral("--background-quit"), QStringLiteral("203.0.113.7"), QStringLiteral("10.0.0.5")});
        writer.start();
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        SettingsStore store(QStringLiteral("Netquill"));
        QCOMPARE(store.GetSetting(SettingKeys::OldExternal), QStringLiteral("203.0.113.7"));
        QCOMPARE(store.GetSetting(SettingKeys::OldInternal), QStringLiteral("10.0.0.5"));
    }

    void killDuringBackgroundSavesLeavesAWholePair_data()
    {
        QTest::addColumn<int>("killAfterMs");
        QTest::newRow("at once") << 0;
        QTest::newRow("after 30 ms") << 30;
        QTest::newRow("after 150 ms") << 150;
    }
    void killDuringBackgroundSavesLeavesAWholePair()
    {
        QFETCH(int, killAfterMs);
        TempSettings temp;
        QProcess writer;
        writer.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"));
        writer.setArguments({QStringLiteral("--background-loop")});
        writer.start();
        QVERIFY(writer.waitForReadyRead(10000));
        QTest::qSleep(killAfterMs);
        writer.kill();
        QVERIFY(writer.waitForFinished(10000));
        // Pair n is 203.0.113.n with 10.0.0.n.
        SettingsStore store(QStringLiteral("Netquill"));
        const QString external = store.GetSetting(SettingKeys::OldExternal);
        const QString internal = store.GetSetting(SettingKeys::OldInternal);
        QVERIFY2(external.startsWith(QStringLiteral("203.0.113.")) &&
                     internal.startsWith(QStringLiteral("10.0.0.")) &&
                     external.sliced(10) == internal.sliced(7),
                 qPrintable(external + QStringLiteral(" with ") + internal));
    }

    void twoProcessesSavingAtOnceUndoNothing()
    {
        // The desktop program and netquill-monitor save their own keys of one file, each write a
        // read, a merge and a rename: a rename landing late must not take out what the other wrote.
        TempSettings temp;
        constexpr int Saves = 100;
        const QStringList prefixes{QStringLiteral("desktop"), QStringLiteral("service")};
        QProcess writers[2];
        const auto stop = qScopeGuard([&] {
            for (QProcess &writer : writers)
                stopProcess(writer);
        });
        for (int i = 0; i < 2; ++i) {
            writers[i].start(QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer"),
                             {QStringLiteral("--count"), prefixes[i], QString::number(Saves)});
        }
        for (QProcess &writer : writers) {
            QVERIFY(writer.waitForReadyRead(10000));
            QCOMPARE(writer.readLine().trimmed(), QByteArray("ready"));
        }
        for (QProcess &writer : writers) {
            writer.write("\n");
            QVERIFY(writer.waitForBytesWritten(5000)); // else the second starts when the first ends
        }
        for (QProcess &writer : writers) {
            QVERIFY(writer.waitForFinished(20000));
            QCOMPARE(writer.exitCode(), 0);
        }
        const QSettings::SettingsMap file =
            SettingsFileFormat::parse(contents(temp.path() + QStringLiteral("/Netquill/Netquill.conf")));
        QStringList lost;
        for (const QString &prefix : prefixes) {
            for (int i = 0; i <= Saves; ++i) {
                if (file.value(QStringLiteral("Settings/") + prefix + QString::number(i)) !=
                    QString::number(i))
                    lost.append(prefix + QString::number(i));
            }
        }
        QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("%1 of %2 values lost: %3 ...")
                                                .arg(lost.size())
                                                .arg(2 * (Saves + 1))
                                                .arg(lost.mid(0, 8).join(u' '))));
    }

    void wholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -99: not a whole number
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("leading zero") << "01" << 1;
        QTest::newRow("spaces") << " 4 " << 4;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("empty") << "" << -99;
        QTest::newRow("word") << "yes" << -99;
        QTest::newRow("fraction") << "1.5" << -99;
        QTest::newRow("trailing letters") << "2x" << -99;
    }
    void wholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto value = SettingsStore::toWholeNumber(text);
        QCOMPARE(value.value_or(-99), expected);
    }
};

NETQUILL_TEST(SettingsStoreTest)
#include "SettingsStoreTest.moc"

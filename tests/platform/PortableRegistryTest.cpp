#include "PortableRegistry.h"
#include "FileSnapshot.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {
using FileSnapshot::readFile;
using FileSnapshot::snapshot;

const QString Run = QLatin1String(RegistryPath::Run);
const RootKey User = RegistryRoot::CurrentUser;
const RootKey Machine = RegistryRoot::LocalMachine;

void writeFile(const QString &fileName, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString execLine(const QString &desktopFile)
{
    const QStringList lines = readFile(desktopFile).split(QLatin1Char('\n'));
    const QStringList exec = lines.filter(QRegularExpression(QStringLiteral("^Exec=")));
    return exec.size() == 1 ? exec.first() : QString();
}

/// The arguments an Exec value stands for, worked out without the code under test: the desktop
/// file's string escapes by hand, the quoting by the shell (whose double quotes follow the same
/// rules), then %% as a literal percent sign.
QStringList argvOf(const QString &execValue)
{
    const QHash<QChar, QChar> escapes{
        {u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
    QString unescaped;
    for (qsizetype i = 0; i < execValue.size(); ++i) {
        const QChar c = execValue.at(i);
        if (c == u'\\' && i + 1 < execValue.size() && escapes.contains(execValue.at(i + 1)))
            unescaped += escapes.value(execValue.at(++i));
        else
            unescaped += c;
    }
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("printf '%s\\0' ") + unescaped});
    if (!shell.waitForFinished(5000))
        return {QStringLiteral("<shell did not finish>")};
    QStringList arguments = QString::fromUtf8(shell.readAllStandardOutput()).split(QChar(0));
    arguments.removeLast();
    for (QString &argument : arguments)
        argument.replace(QLatin1String("%%"), QLatin1String("%"));
    return arguments;
}

} // namespace

class PortableRegistryTest : public QObject {
    Q_OBJECT
private slots:
    void runValueIsDesktopEntry()
    {
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        QVERIFY(
            registry.setString(User, Run, QStringLiteral("Netquill"), QStringLiteral("/opt/nq/netquill")));
        QCOMPARE(readFile(settings.path() + QStringLiteral("/autostart/Netquill.desktop")),
                 QStringLiteral("[Desktop Entry]\nType=Application\nName=Netquill\nExec=/opt/nq/netquill\n"
                                "X-GNOME-Autostart-enabled=true\n"));
        // Nothing of the Run key goes to the store.
        QVERIFY(!QFile::exists(registry.storeFile()));
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("exec");
        // clang-format off
        QTest::newRow("plain") << "/usr/bin/netquill" << "Exec=/usr/bin/netquill";
        QTest::newRow("space") << "/opt/My Apps/netquill" << "Exec=\"/opt/My Apps/netquill\"";
        QTest::newRow("double quote") << "/opt/a\"b/nq" << "Exec=\"/opt/a\\\\\"b/nq\"";
        QTest::newRow("single quote") << "/opt/it's/nq" << "Exec=\"/opt/it's/nq\"";
        QTest::newRow("backslash") << "/opt/a\\b" << "Exec=\"/opt/a\\\\\\\\b\"";
        QTest::newRow("windows path") << "C:\\Program Files\\nq.exe"
                                      << "Exec=\"C:\\\\\\\\Program Files\\\\\\\\nq.exe\"";
        QTest::newRow("dollar") << "/opt/$HOME/nq" << "Exec=\"/opt/\\\\$HOME/nq\"";
        QTest::newRow("backtick") << "/opt/a`true`b" << "Exec=\"/opt/a\\\\`true\\\\`b\"";
        QTest::newRow("percent") << "/opt/100%/nq" << "Exec=/opt/100%%/nq";
        QTest::newRow("percent and space") << "/opt/50% off/%f" << "Exec=\"/opt/50%% off/%%f\"";
        QTest::newRow("tilde") << "~/bin/nq" << "Exec=\"~/bin/nq\"";
        QTest::newRow("shell characters") << "/a;b|c&d>e<f*g?h#i(j)" << "Exec=\"/a;b|c&d>e<f*g?h#i(j)\"";
        QTest::newRow("newline and tab") << "/opt/a\nb\tc" << "Exec=\"/opt/a\\nb\\tc\"";
        QTest::newRow("leading space") << " /opt/nq" << "Exec=\" /opt/nq\"";
        QTest::newRow("not ascii") << "/home/jürgen/Проги/nq" << "Exec=/home/jürgen/Проги/nq";
        QTest::newRow("empty") << "" << "Exec=\"\"";
        // White space that readers trim from a line's ends, though the Exec rules do not reserve it.
        QTest::newRow("no-break space first") << "\u00a0/opt/nq" << "Exec=\"\u00a0/opt/nq\"";
        QTest::newRow("em space last") << "/opt/nq\u2003" << "Exec=\"/opt/nq\u2003\"";
        // clang-format on
    }

    void execQuoting()
    {
        QFETCH(QString, command);
        QFETCH(QString, exec);
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        QVERIFY(registry.setString(User, Run, QStringLiteral("Netquill"), command));

        const QString line = execLine(settings.path() + QStringLiteral("/autostart/Netquill.desktop"));
        QCOMPARE(line, exec);
        QCOMPARE(argvOf(line.mid(5)), QStringList{command});

        const std::optional<RegistryValue> value = registry.queryValue(User, Run, QStringLiteral("Netquill"));
        QVERIFY(value);
        QCOMPARE(value->type, RegistryType::String);
        QCOMPARE(value->data, command);
    }

    void readsEntriesWrittenByOthers_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<std::optional<QString>>("command");
        QTest::newRow("arguments kept as a command line")
            << QByteArray("[Desktop Entry]\nExec=/usr/bin/nq --tray %U\n")
            << std::optional<QString>("/usr/bin/nq --tray %U");
        QTest::newRow("spaces around equals, CRLF")
            << QByteArray("[Desktop Entry]\r\nExec = \"/opt/a b/nq\"\r\n")
            << std::optional<QString>("/opt/a b/nq");
        QTest::newRow("unclosed quote as it stands")
            << QByteArray("[Desktop Entry]\nExec=\"/opt/a b\n") << std::optional<QString>("\"/opt/a b");
        QTest::newRow("Exec of another group")
            << QByteArray("[Desktop Action quit]\nExec=/usr/bin/nq\n[Desktop Entry]\nName=nq\n")
            << std::optional<QString>();
        QTest::newRow("no Exec") << QByteArray("[Desktop Entry]\nType=Application\n")
                                 << std::optional<QString>();
    }

    void readsEntriesWrittenByOthers()
    {
        QFETCH(QByteArray, content);
        QFETCH(std::optional<QString>, command);
        TempSettings settings;
        writeFile(settings.path() + QStringLiteral("/autostart/Other.desktop"), content);
        const std::optional<RegistryValue> value =
            PortableRegistry(QStringLiteral("Netquill")).queryValue(Machine, Run, QStringLiteral("Other"));
        QCOMPARE(value.has_value(), command.has_value());
        if (command)
            QCOMPARE(value->data, *command);
    }

    void runKeyUnderEitherRootIsOneEntry()
    {
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        QVERIFY(registry.setString(Machine,
                                   QStringLiteral("\\software\\MICROSOFT\\Windows\\CurrentVersion\\Run\\"),
                                   QStringLiteral("Netquill"), QStringLiteral("/a")));
        QVERIFY(registry.setString(User, Run, QStringLiteral("Netquill"), QStringLiteral("/b")));
        QCOMPARE(QDir(settings.path() + QStringLiteral("/autostart")).entryList(QDir::Files),
                 QStringList{QStringLiteral("Netquill.desktop")});
        QCOMPARE(registry.queryValue(Machine, Run, QStringLiteral("Netquill"))->data, QStringLiteral("/b"));
        QVERIFY(registry.deleteValue(Machine, Run, QStringLiteral("Netquill")));
        QVERIFY(!registry.queryValue(User, Run, QStringLiteral("Netquill")));
        QVERIFY(!registry.deleteValue(User, Run, QStringLiteral("Netquill")));
        // The folder holds other programs' entries; it is never deleted as a key.
        QVERIFY(!registry.deleteKey(User, Run));
        QVERIFY(QFileInfo(settings.path() + QStringLiteral("/autostart")).isDir());
    }

    void refusesWhatAFileCannotHold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::newRow("parent folder") << "../../evil"
                                       << "/usr/bin/nq";
        QTest::newRow("slash") << "a/b"
                               << "/usr/bin/nq";
        QTest::newRow("empty name") << ""
                                    << "/usr/bin/nq";
        QTest::newRow("control character in command") << "Netquill"
                                                      << "/usr/bin/nq\x01";
        QTest::newRow("control character in name") << "Net\x1bquill"
                                                   << "/usr/bin/nq";
    }

    void refusesWhatAFileCannotHold()
    {
        QFETCH(QString, name);
        QFETCH(QString, command);
        TempSettings settings;
        QVERIFY(QDir().mkpath(settings.path() + QStringLiteral("/autostart")));
        PortableRegistry registry(QStringLiteral("Netquill"));
        QVERIFY(!registry.setString(User, Run, name, command));
        QVERIFY(!registry.queryValue(User, Run, name));
        QVERIFY(!QFileInfo::exists(PortableRegistry::autostartFolder() + QLatin1Char('/') + name +
                                   QStringLiteral(".desktop")));
        QCOMPARE(snapshot(settings.path()).keys(),
                 QStringList{settings.path() + QStringLiteral("/autostart")});
    }

    void storeKeepsValuesPerKeyAndRoot()
    {
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        const QString key = QStringLiteral("Software\\Velmora\\Netquill");
        QVERIFY(!registry.queryValue(User, key, QStringLiteral("Path")));
        QVERIFY(registry.setString(User, key, QStringLiteral("Path"), QStringLiteral("/opt/nq")));
        QVERIFY(registry.setString(User, key, QStringLiteral("Empty"), QString()));

        QCOMPARE(
            registry.queryValue(User, QStringLiteral("software\\velmora\\NETQUILL"), QStringLiteral("path"))
                ->data,
            QStringLiteral("/opt/nq"));
        const std::optional<RegistryValue> empty = registry.queryValue(User, key, QStringLiteral("Empty"));
        QVERIFY(empty);
        QCOMPARE(empty->type, RegistryType::String);
        QVERIFY(empty->data.isEmpty());
        QVERIFY(!registry.queryValue(Machine, key, QStringLiteral("Path")));
        QVERIFY(!registry.queryValue(User, key, QStringLiteral("Other")));

        // Overwriting keeps one value under its first spelling.
        QVERIFY(registry.setString(User, key, QStringLiteral("PATH"), QStringLiteral("/usr/bin/nq")));
        QFile file(settings.path() + QStringLiteral("/Netquill/registry.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject store = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(store.value(QStringLiteral("HKEY_CURRENT_USER\\") + key).toObject(),
                 QJsonObject({{QStringLiteral("Path"), QStringLiteral("/usr/bin/nq")},
                              {QStringLiteral("Empty"), QString()}}));
    }

    void keysAreDeletedLeafFirst()
    {
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        const QString parent = QStringLiteral("Software\\Velmora");
        const QString child = parent + QStringLiteral("\\Netquill");
        QVERIFY(registry.setString(User, child, QStringLiteral("A"), QStringLiteral("1")));
        QVERIFY(registry.setString(User, parent, QStringLiteral("B"), QStringLiteral("2")));

        QVERIFY(!registry.deleteKey(User, parent));
        QCOMPARE(registry.queryValue(User, parent, QStringLiteral("B"))->data, QStringLiteral("2"));
        QVERIFY(registry.deleteKey(User, child));
        QVERIFY(!registry.queryValue(User, child, QStringLiteral("A")));
        QVERIFY(registry.deleteKey(User, parent));
        QVERIFY(!registry.queryValue(User, parent, QStringLiteral("B")));
        QVERIFY(!registry.deleteKey(User, parent));
        QVERIFY(!registry.deleteKey(User, QString()));

        // A key created empty still exists until it is deleted.
        QVERIFY(registry.createKey(User, child));
        QVERIFY(registry.deleteKey(User, child));
        QVERIFY(!registry.deleteKey(User, child));
    }

    void deletingMissingThingsWritesNothing()
    {
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        QVERIFY(!registry.deleteValue(User, QStringLiteral("Software\\Nothing"), QStringLiteral("X")));
        QVERIFY(!registry.deleteKey(User, QStringLiteral("Software\\Nothing")));
        QVERIFY(!registry.deleteValue(User, Run, QStringLiteral("Netquill")));
        QVERIFY(snapshot(settings.path()).isEmpty());
    }

    void damagedStoreIsNeverOverwritten()
    {
        TempSettings settings;
        PortableRegistry registry(QStringLiteral("Netquill"));
        writeFile(registry.storeFile(), "{ not json");
        QVERIFY(!registry.setString(User, QStringLiteral("Software\\X"), QStringLiteral("A"),
                                    QStringLiteral("1")));
        QVERIFY(!registry.queryValue(User, QStringLiteral("Software\\X"), QStringLiteral("A")));
        QCOMPARE(readFile(registry.storeFile()), QStringLiteral("{ not json"));
    }

    void followsConfigHomeAtEachCall()
    {
        PortableRegistry registry(QStringLiteral("Netquill"));
        TempSettings first;
        QVERIFY(registry.setString(User, Run, QStringLiteral("Netquill"), QStringLiteral("/first")));
        {
            TempSettings second;
            QVERIFY(!registry.queryValue(User, Run, QStringLiteral("Netquill")));
            QVERIFY(registry.setString(User, QStringLiteral("Software\\X"), QStringLiteral("A"),
                                       QStringLiteral("1")));
            QVERIFY(QFile::exists(second.path() + QStringLiteral("/Netquill/registry.json")));
        }
        QCOMPARE(registry.queryValue(User, Run, QStringLiteral("Netquill"))->data, QStringLiteral("/first"));
        QVERIFY(!QFile::exists(first.path() + QStringLiteral("/Netquill/registry.json")));
    }
};

NETQUILL_TEST(PortableRegistryTest)
#include "PortableRegistryTest.moc"

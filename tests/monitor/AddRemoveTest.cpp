#include "AddRemove.h"
#include "FileSnapshot.h"
#include "TempSettings.h"
#include "TestMain.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>

namespace {
using FileSnapshot::readFile;
using FileSnapshot::snapshot;

using Operation = std::function<void(AddRemove &)>;

/// Records each call as "operation root|path|name|data" and answers queries with one fixed value.
class FakeRegistry : public RegistryBackend {
public:
    FakeRegistry(QStringList &log, std::optional<RegistryValue> answer = {}) : m_log(log), m_answer(answer) {}

    bool createKey(RootKey root, const QString &path) override { return record("createKey", root, {path}); }
    bool setString(RootKey root, const QString &path, const QString &name, const QString &data) override
    {
        return record("setString", root, {path, name, data});
    }
    std::optional<RegistryValue> queryValue(RootKey root, const QString &path,
                                            const QString &name) const override
    {
        const_cast<FakeRegistry *>(this)->record("queryValue", root, {path, name});
        return m_answer;
    }
    bool deleteValue(RootKey root, const QString &path, const QString &name) override
    {
        return record("deleteValue", root, {path, name});
    }
    bool deleteKey(RootKey root, const QString &path) override { return record("deleteKey", root, {path}); }

private:
    bool record(const char *operation, RootKey root, const QStringList &arguments)
    {
        m_log << QStringLiteral("%1 %2|%3")
                     .arg(QLatin1String(operation))
                     .arg(root, 0, 16)
                     .arg(arguments.join('|'));
        return false; // refusals must stay silent
    }

    QStringList &m_log;
    std::optional<RegistryValue> m_answer;
};

const QString Run = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString Uninstall = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");

} // namespace

class AddRemoveTest : public QObject {
    Q_OBJECT
private slots:
    void mapsOntoRegistry_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QStringList>("calls");
        constexpr RootKey Machine = RegistryRoot::LocalMachine;
        const QString list = "80000001|" + Uninstall + "Netquill|";
        // High-level operations work for the current user (80000001), the rest under the root given.
        // clang-format off
        QTest::newRow("AddToRun") << Operation([](AddRemove &r) { r.AddToRun("Netquill", "C:\\nq.exe"); })
                                  << QStringList{"setString 80000001|" + Run + "|Netquill|C:\\nq.exe"};
        QTest::newRow("RemoveFromRun") << Operation([](AddRemove &r) { r.RemoveFromRun("Netquill"); })
                                       << QStringList{"deleteValue 80000001|" + Run + "|Netquill"};
        QTest::newRow("AddToList") << Operation([](AddRemove &r) { r.AddToList("Netquill", "nq --remove"); })
                                   << QStringList{"setString " + list + "DisplayName|Netquill",
                                                  "setString " + list + "UninstallString|nq --remove"};
        QTest::newRow("RemoveFromList") << Operation([](AddRemove &r) { r.RemoveFromList("Netquill"); })
                                        << QStringList{"deleteKey " + list.chopped(1)};
        QTest::newRow("SaveKey") << Operation([](AddRemove &r) { r.SaveKey(Machine, "A\\B"); })
                                 << QStringList{"createKey 80000002|A\\B"};
        QTest::newRow("SaveString") << Operation([](AddRemove &r) { r.SaveString(Machine, "A", "V", ""); })
                                    << QStringList{"setString 80000002|A|V|"};
        QTest::newRow("DeleteValue") << Operation([](AddRemove &r) { r.DeleteValue(Machine, "A", "V"); })
                                     << QStringList{"deleteValue 80000002|A|V"};
        QTest::newRow("DeleteKey") << Operation([](AddRemove &r) { r.DeleteKey(Machine, "A"); })
                                   << QStringList{"deleteKey 80000002|A"};
        // clang-format on
    }

    void mapsOntoRegistry()
    {
        QFETCH(Operation, operation);
        QFETCH(QStringList, calls);
        QStringList log;
        AddRemove registry(std::make_unique<FakeRegistry>(log));
        operation(registry);
        QCOMPARE(log, calls);
    }

    void getStringEndsAtFirstNul_data()
    {
        QTest::addColumn<std::optional<RegistryValue>>("stored");
        QTest::addColumn<std::optional<QString>>("expected");
        const auto text = [](const QString &data) {
            return std::optional<RegistryValue>({RegistryType::String, data});
        };
        QTest::newRow("no NUL: whole data") << text("C:\\nq.exe") << std::optional<QString>("C:\\nq.exe");
        QTest::newRow("NUL at end") << text(QStringLiteral("C:\\nq.exe") + QChar(0))
                                    << std::optional<QString>("C:\\nq.exe");
        QTest::newRow("NUL inside") << text(QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"))
                                    << std::optional<QString>("ab");
        QTest::newRow("empty text") << text(QString()) << std::optional<QString>(QString());
        QTest::newRow("only a NUL") << text(QString(QChar(0))) << std::optional<QString>(QString());
        QTest::newRow("other type") << std::optional<RegistryValue>({2, QStringLiteral("%PATH%")})
                                    << std::optional<QString>();
        QTest::newRow("missing") << std::optional<RegistryValue>() << std::optional<QString>();
    }

    void getStringEndsAtFirstNul()
    {
        QFETCH(std::optional<RegistryValue>, stored);
        QFETCH(std::optional<QString>, expected);
        QStringList log;
        const AddRemove registry(std::make_unique<FakeRegistry>(log, stored));
        QCOMPARE(registry.GetString(RegistryRoot::LocalMachine, "A", "V"), expected);
        QCOMPARE(log, QStringList{"queryValue 80000002|A|V"});
    }

    // The rest runs against the real files of this platform.

    void startEntryFollowsTheCheckBox()
    {
        TempSettings settings;
        const QString entry = settings.path() + QStringLiteral("/autostart/Netquill.desktop");
        AddRemove registry;

        registry.AddToRun("Netquill", "/opt/net quill/netquill");
        QVERIFY(readFile(entry).contains("\nName=Netquill\n"));
        QVERIFY(readFile(entry).contains("\nExec=\"/opt/net quill/netquill\"\n"));
        QCOMPARE(registry.GetString(AddRemove::ProgramRoot, Run, "Netquill"),
                 std::optional<QString>("/opt/net quill/netquill"));

        registry.AddToRun("Netquill", "/usr/bin/netquill");
        QVERIFY(readFile(entry).contains("\nExec=/usr/bin/netquill\n"));
        QCOMPARE(QDir(settings.path() + QStringLiteral("/autostart")).entryList(QDir::Files),
                 QStringList{"Netquill.desktop"});

        registry.RemoveFromRun("Netquill");
        QVERIFY(!QFile::exists(entry));
        QCOMPARE(registry.GetString(AddRemove::ProgramRoot, Run, "Netquill"), std::nullopt);
    }

    void removingMissingEntryChangesNothing_data()
    {
        QTest::addColumn<bool>("otherEntry");
        QTest::newRow("no autostart folder") << false;
        QTest::newRow("another program's entry") << true;
    }

    void removingMissingEntryChangesNothing()
    {
        QFETCH(bool, otherEntry);
        TempSettings settings;
        if (otherEntry) {
            QVERIFY(QDir().mkpath(settings.path() + QStringLiteral("/autostart")));
            QFile other(settings.path() + QStringLiteral("/autostart/Other.desktop"));
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write("[Desktop Entry]\nExec=/usr/bin/other\n");
        }
        const QMap<QString, QString> before = snapshot(settings.path());
        AddRemove registry;
        registry.RemoveFromRun("Netquill");
        registry.RemoveFromList("Netquill");
        QCOMPARE(snapshot(settings.path()), before);
    }

    void missingValueIsNotEmptyText_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("start-up entry") << Run;
        QTest::newRow("other key") << QStringLiteral("Software\\Velmora\\Netquill");
    }

    void missingValueIsNotEmptyText()
    {
        QFETCH(QString, path);
        TempSettings settings;
        AddRemove registry;
        QCOMPARE(registry.GetString(RegistryRoot::CurrentUser, path, "Netquill"), std::nullopt);
        registry.SaveString(RegistryRoot::CurrentUser, path, "Netquill", "");
        QCOMPARE(registry.GetString(RegistryRoot::CurrentUser, path, "Netquill"), std::optional<QString>(""));
        registry.DeleteValue(RegistryRoot::CurrentUser, path, "Netquill");
        QCOMPARE(registry.GetString(RegistryRoot::CurrentUser, path, "Netquill"), std::nullopt);
    }

    void removeFromListDeletesKeyWithBothValues()
    {
        TempSettings settings;
        AddRemove registry;
        registry.AddToList("Netquill", "/opt/nq/uninstall");
        QCOMPARE(registry.GetString(AddRemove::ProgramRoot, Uninstall + "Netquill", "DisplayName"),
                 std::optional<QString>("Netquill"));
        QCOMPARE(registry.GetString(AddRemove::ProgramRoot, Uninstall + "Netquill", "UninstallString"),
                 std::optional<QString>("/opt/nq/uninstall"));

        registry.RemoveFromList("Netquill");
        QCOMPARE(registry.GetString(AddRemove::ProgramRoot, Uninstall + "Netquill", "DisplayName"),
                 std::nullopt);
        QCOMPARE(registry.GetString(AddRemove::ProgramRoot, Uninstall + "Netquill", "UninstallString"),
                 std::nullopt);
        QFile store(settings.path() + QStringLiteral("/Netquill/registry.json"));
        QVERIFY(store.open(QIODevice::ReadOnly));
        const QJsonObject keys = QJsonDocument::fromJson(store.readAll()).object();
        QVERIFY(!keys.contains("HKEY_CURRENT_USER\\" + Uninstall + "Netquill"));
        QVERIFY(keys.contains("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    }
};

NETQUILL_TEST(AddRemoveTest)
#include "AddRemoveTest.moc"

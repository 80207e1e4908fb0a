#include "SettingsStore.h"

#include "SettingsFileFormat.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>
#include <QThreadPool>
#include <mutex>

namespace {
const QString Section = QStringLiteral("Settings");

QSettings::Format storeFormat()
{
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    return QSettings::NativeFormat; // registry and preferences keep text as text
#else
    // Same file as the native format, but a hand-edited value reads back as the text it holds.
    return SettingsFileFormat::format();
#endif
}
} // namespace

struct SettingsStore::Shared {
    explicit Shared(QString file, QSettings::Format fileFormat)
        : fileName(std::move(file)), format(fileFormat)
    {
        writer.setMaxThreadCount(1); // saves stay in order
        // Lookups come minutes apart: an idle program keeps no writer thread.
        writer.setExpiryTimeout(1000);
    }
    ~Shared() { writer.waitForDone(); }

    const QString fileName;
    const QSettings::Format format;
    // Values of background saves not yet on the disk, each with the number of its save; GetSetting
    // answers from here first.
    struct Unwritten {
        QString value;
        quint64 save;
    };
    std::mutex mutex; // guards the three below
    QHash<QString, Unwritten> unwritten;
    Values queued; // not yet taken by the writer, in order
    quint64 saves = 0;
    QThreadPool writer;

    static std::shared_ptr<Shared> of(const QString &fileName, QSettings::Format format)
    {
        static std::mutex registryMutex;
        static QHash<QString, std::weak_ptr<Shared>> registry;
        std::lock_guard lock(registryMutex);
        std::shared_ptr<Shared> shared = registry.value(fileName).lock();
        if (!shared) {
            shared = std::make_shared<Shared>(fileName, format);
            registry.insert(fileName, shared);
        }
        return shared;
    }
};

SettingsStore::SettingsStore(const QString &application)
    : m_settings(storeFormat(), QSettings::UserScope, application, application)
{
    // Each sync writes a new file and renames it over the old one (never rewrites in place), so
    // the values of one save land together or not at all.
    m_settings.setAtomicSyncRequired(true);
    m_shared = Shared::of(m_settings.fileName(), m_settings.format());
    // The main window is never deleted, so the end of the event loop is where saves are finished.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        m_quitWatch = std::make_unique<QObject>();
        QObject::connect(app, &QCoreApplication::aboutToQuit, m_quitWatch.get(), [this] { WaitForWrites(); });
    }
}

SettingsStore::~SettingsStore()
{
    WaitForWrites();
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    {
        std::lock_guard lock(m_shared->mutex);
        const auto unwritten = m_shared->unwritten.constFind(key);
        if (unwritten != m_shared->unwritten.cend())
            return unwritten->value;
    }
    m_settings.beginGroup(Section);
    const QVariant value = m_settings.value(key);
    m_settings.endGroup();
    return value.isValid() ? value.toString() : defaultValue;
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    WaitForWrites(); // a later save of the same key must not be overtaken
    saveIfChanged(m_settings, {{key, value}});
}

void SettingsStore::SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values)
{
    WaitForWrites();
    Values named;
    for (const auto &[key, value] : values)
        named.append({key.name, value});
    saveIfChanged(m_settings, named);
}

void SettingsStore::saveIfChanged(QSettings &settings, const Values &values)
{
    // Values the file already holds need no write: most lookups find the addresses unchanged, and
    // each write costs two waits for the disk. A sync without changes only rereads an edited file.
    settings.sync();
    bool changed = false;
    settings.beginGroup(Section);
    for (const auto &[key, value] : values) {
        const QVariant stored = settings.value(key);
        if (stored.isValid() && stored.toString() == value)
            continue;
        settings.setValue(key, value);
        changed = true;
    }
    settings.endGroup();
    if (changed)
        settings.sync();
}

void SettingsStore::SaveSettingsInBackground(const QList<std::pair<SettingKeys::Key, QString>> &values)
{
    Shared &shared = *m_shared;
    {
        std::lock_guard lock(shared.mutex);
        ++shared.saves;
        for (const auto &[key, value] : values) {
            shared.unwritten.insert(key.name, {value, shared.saves});
            shared.queued.append({key.name, value});
        }
    }
    shared.writer.start([&shared] { writeQueued(shared); });
}

void SettingsStore::writeQueued(Shared &shared)
{
    Values values;
    quint64 upTo = 0;
    {
        std::lock_guard lock(shared.mutex);
        values.swap(shared.queued);
        upTo = shared.saves;
    }
    if (values.isEmpty())
        return; // taken by an earlier run: saves made while one is written go out together
    // A second object on the same file shares its in-memory state with the stores' (under QSettings'
    // own lock), so they read what this one wrote.
    QSettings file(shared.fileName, shared.format);
    file.setAtomicSyncRequired(true);
    saveIfChanged(file, values);
    std::lock_guard lock(shared.mutex);
    shared.unwritten.removeIf([upTo](const auto &entry) { return entry.value().save <= upTo; });
}

void SettingsStore::WaitForWrites()
{
    m_shared->writer.waitForDone();
}

QStringList SettingsStore::keys() const
{
    m_settings.beginGroup(Section);
    QStringList result = m_settings.childKeys();
    m_settings.endGroup();
    std::lock_guard lock(m_shared->mutex);
    for (auto it = m_shared->unwritten.cbegin(); it != m_shared->unwritten.cend(); ++it) {
        if (!result.contains(it.key()))
            result.append(it.key());
    }
    return result;
}

QString SettingsStore::fileName() const
{
    return m_settings.fileName();
}

std::optional<int> SettingsStore::toWholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

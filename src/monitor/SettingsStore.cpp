#include "SettingsStore.h"

#include "SettingsFileFormat.h"

#include <QCoreApplication>
#include <QStringList>

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

SettingsStore::SettingsStore(const QString &application)
    : m_settings(storeFormat(), QSettings::UserScope, application, application)
{
    // Each sync writes a new file and renames it over the old one (never rewrites in place), so
    // the values of one save land together or not at all.
    m_settings.setAtomicSyncRequired(true);
    m_writer.setMaxThreadCount(1);
    // Lookups come minutes apart: an idle program keeps no writer thread.
    m_writer.setExpiryTimeout(1000);
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
        std::lock_guard lock(m_mutex);
        const auto unwritten = m_unwritten.constFind(key);
        if (unwritten != m_unwritten.cend())
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
    m_settings.beginGroup(Section);
    m_settings.setValue(key, value);
    m_settings.endGroup();
    m_settings.sync();
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
    {
        std::lock_guard lock(m_mutex);
        ++m_saves;
        for (const auto &[key, value] : values) {
            m_unwritten.insert(key.name, {value, m_saves});
            m_queued.append({key.name, value});
        }
    }
    m_writer.start([this] { writeQueued(); });
}

void SettingsStore::writeQueued()
{
    Values values;
    quint64 upTo = 0;
    {
        std::lock_guard lock(m_mutex);
        values.swap(m_queued);
        upTo = m_saves;
    }
    if (values.isEmpty())
        return; // taken by an earlier run: saves made while one is written go out together
    // A second object on the same file shares its in-memory state with m_settings (under QSettings'
    // own lock), so the GUI thread reads what this one wrote.
    QSettings file(m_settings.fileName(), m_settings.format());
    file.setAtomicSyncRequired(true);
    saveIfChanged(file, values);
    std::lock_guard lock(m_mutex);
    m_unwritten.removeIf([upTo](const auto &entry) { return entry.value().save <= upTo; });
}

void SettingsStore::WaitForWrites()
{
    m_writer.waitForDone();
}

QStringList SettingsStore::keys() const
{
    m_settings.beginGroup(Section);
    QStringList result = m_settings.childKeys();
    m_settings.endGroup();
    std::lock_guard lock(m_mutex);
    for (auto it = m_unwritten.cbegin(); it != m_unwritten.cend(); ++it) {
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

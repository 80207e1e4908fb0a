#include "SettingsStore.h"

#include "SettingsFileFormat.h"

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
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    m_settings.beginGroup(Section);
    const QVariant value = m_settings.value(key);
    m_settings.endGroup();
    return value.isValid() ? value.toString() : defaultValue;
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    m_settings.beginGroup(Section);
    m_settings.setValue(key, value);
    m_settings.endGroup();
    m_settings.sync();
}

void SettingsStore::SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values)
{
    // Values the file already holds need no write: most lookups find the addresses unchanged, and
    // each write costs two waits for the disk. A sync without changes only rereads an edited file.
    m_settings.sync();
    bool changed = false;
    m_settings.beginGroup(Section);
    for (const auto &[key, value] : values) {
        const QVariant stored = m_settings.value(key.name);
        if (stored.isValid() && stored.toString() == value)
            continue;
        m_settings.setValue(key.name, value);
        changed = true;
    }
    m_settings.endGroup();
    if (changed)
        m_settings.sync();
}

QStringList SettingsStore::keys() const
{
    m_settings.beginGroup(Section);
    QStringList result = m_settings.childKeys();
    m_settings.endGroup();
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

#include "SettingsStore.h"

#include <QStringList>

namespace {
const QString Section = QStringLiteral("Settings");
}

SettingsStore::SettingsStore(const QString &application)
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, application, application)
{
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    m_settings.beginGroup(Section);
    const QVariant value = m_settings.value(key);
    m_settings.endGroup();
    if (!value.isValid())
        return defaultValue;
    // A hand-edited INI line with unquoted commas reads back as a list; keep its text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    m_settings.beginGroup(Section);
    m_settings.setValue(key, value);
    m_settings.endGroup();
    m_settings.sync();
}

QStringList SettingsStore::keys() const
{
    m_settings.beginGroup(Section);
    QStringList result = m_settings.childKeys();
    m_settings.endGroup();
    return result;
}

QString SettingsStore::fileName() const { return m_settings.fileName(); }

std::optional<int> SettingsStore::toWholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

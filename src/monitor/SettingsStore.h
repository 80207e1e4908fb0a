#pragma once

#include "SettingKeys.h"

#include <QList>
#include <QSettings>
#include <QString>
#include <utility>

/// The per-user settings area: text values under the product name, section "Settings".
/// Every write reaches the disk before it returns, so a crash loses nothing.
class SettingsStore {
public:
    /// Opens the store of the given application (the product name) in the user's config folder.
    explicit SettingsStore(const QString &application);

    QString GetSetting(const QString &key, const QString &defaultValue) const;
    QString GetSetting(const SettingKeys::Key &key) const { return GetSetting(key.name, key.defaultValue); }
    void SaveSetting(const QString &key, const QString &value);
    void SaveSetting(const SettingKeys::Key &key, const QString &value) { SaveSetting(key.name, value); }
    /// Writes the values in the order given and reaches the disk once for all of them. The file is
    /// replaced as a whole, so after a crash it holds either every new value or none. When the file
    /// already holds every value, nothing is written.
    void SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values);

    /// Keys present in the section, for tests and diagnostics.
    QStringList keys() const;
    QString fileName() const;

    /// Whole-number value of a stored check state or list position; nullopt when the text is not one.
    static std::optional<int> toWholeNumber(const QString &text);

private:
    mutable QSettings m_settings;
};

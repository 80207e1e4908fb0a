#pragma once

#include "SettingKeys.h"

#include <QList>
#include <QSettings>
#include <QString>
#include <memory>
#include <utility>

/// The per-user settings area: text values under the product name, section "Settings".
/// Every write reaches the disk before it returns, so a crash loses nothing; SaveSettingsInBackground
/// alone returns first and leaves the disk to a worker thread.
class SettingsStore {
public:
    /// Opens the store of the given application (the product name) in the user's config folder.
    explicit SettingsStore(const QString &application);
    /// Waits for the background saves when it is the last store of its file.
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString GetSetting(const QString &key, const QString &defaultValue) const;
    QString GetSetting(const SettingKeys::Key &key) const { return GetSetting(key.name, key.defaultValue); }
    /// Writes one value, unless the file already holds it.
    void SaveSetting(const QString &key, const QString &value);
    void SaveSetting(const SettingKeys::Key &key, const QString &value) { SaveSetting(key.name, value); }
    /// Writes the values in the order given and reaches the disk once for all of them. The file is
    /// replaced as a whole, so after a crash it holds either every new value or none. When the file
    /// already holds every value, nothing is written.
    void SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values);
    /// SaveSettings on a worker thread: returns at once, and GetSetting of every store of the file
    /// answers with the new values from then on. Saves reach the file in the order made, each as a
    /// whole (the file holds all of a save or none of it, also after a crash). Pending saves are
    /// finished by WaitForWrites, by every other save, when the application's event loop ends, and
    /// when the last store of the file goes away.
    void SaveSettingsInBackground(const QList<std::pair<SettingKeys::Key, QString>> &values);
    /// Returns once every background save to the file is on the disk.
    void WaitForWrites();

    /// Keys present in the section, for tests and diagnostics.
    QStringList keys() const;
    QString fileName() const;

    /// Whole-number value of a stored check state or list position; nullopt when the text is not one.
    static std::optional<int> toWholeNumber(const QString &text);

private:
    using Values = QList<std::pair<QString, QString>>;
    struct Shared;
    static void saveIfChanged(QSettings &settings, const Values &values);
    static void writeQueued(Shared &shared);

    mutable QSettings m_settings;
    // What background saves left to do, shared by every store of the same file in the process, so
    // that each of them reads the values as soon as they are saved.
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QObject> m_quitWatch;
};
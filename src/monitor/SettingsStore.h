#pragma once

#include "SettingKeys.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <utility>

/// The per-user settings area: text values under the product name, section "Settings", in
/// `<config>/<application>/<application>.conf`.
/// Every write reaches the disk before it returns, so a crash loses nothing; SaveSettingsInBackground
/// alone returns first and leaves the disk to a worker thread. A save that fails leaves the file as
/// it was and keeps its values here: GetSetting answers them, and the next save writes them again.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    /// Opens the store of the given application (the product name) in the user's config folder.
    explicit SettingsStore(const QString &application);
    /// Waits for the background saves when it is the last store of its file.
    ~SettingsStore() override;
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString GetSetting(const QString &key, const QString &defaultValue) const;
    QString GetSetting(const SettingKeys::Key &key) const { return GetSetting(key.name, key.defaultValue); }
    /// Writes one value, unless the file already holds it. False when the file could not be written.
    bool SaveSetting(const QString &key, const QString &value);
    bool SaveSetting(const SettingKeys::Key &key, const QString &value)
    {
        return SaveSetting(key.name, value);
    }
    /// Writes the values in the order given and reaches the disk once for all of them. The file is
    /// replaced as a whole, so after a crash it holds either every new value or none. When the file
    /// already holds every value, nothing is written. False when the file could not be written.
    bool SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values);
    /// SaveSettings on a worker thread: returns at once, and GetSetting of every store of the file
    /// answers with the new values from then on. Saves reach the file in the order made, each as a
    /// whole (the file holds all of a save or none of it, also after a crash). Pending saves are
    /// finished by WaitForWrites, by every other save, when the application's event loop ends, and
    /// when the last store of the file goes away.
    void SaveSettingsInBackground(const QList<std::pair<SettingKeys::Key, QString>> &values);
    /// Returns once every background save to the file is on the disk (or has failed).
    void WaitForWrites();

    /// Keys present in the section, for tests and diagnostics.
    QStringList keys() const;
    QString fileName() const;

    /// Whole-number value of a stored check state or list position; nullopt when the text is not one.
    static std::optional<int> toWholeNumber(const QString &text);

signals:
    /// A save to the file failed, for a status line: "Settings not saved: " and the cause. Every
    /// store of the file hears it, from the thread that saved (a worker's for background saves).
    void saveFailed(const QString &reason);

private:
    struct Shared;

    // What the file holds and what is not on it yet, shared by every store of the same file in the
    // process, so that each of them reads the values as soon as they are saved.
    std::shared_ptr<Shared> m_shared;
};

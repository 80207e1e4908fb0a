#pragma once

#include "SettingKeys.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QTimer;

/// The per-user settings area: text values under the product name, section "Settings", in
/// `<config>/<application>/<application>.conf`.
/// A save returns at once and GetSetting of every store of the file answers the new values from then
/// on; a worker thread writes the file, so the window that saves never waits for the disk. Saves reach
/// the file in the order made, each as a whole (the file holds all of a save or none of it, also after
/// a crash), and saves made while one is written go out together in the next write. A save that fails
/// leaves the file as it was and keeps its values here: GetSetting answers them, and the next save
/// writes them again. Pending saves are finished by WaitForWrites, when the application's event loop
/// ends, and when the last store of the file goes away.
/// Other processes may save to the same file (the desktop program and netquill-monitor do): each write
/// holds `<file>.lock` while it reads the file, puts this process's saved values over it and renames
/// the new file over the old one, so that no process's write undoes another's.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    /// How long a value being typed waits for the next key before it is written.
    static constexpr int TypingPauseMs = 500;

    /// Opens the store of the given application (the product name) in the user's config folder.
    explicit SettingsStore(const QString &application);
    /// Waits for the pending saves.
    ~SettingsStore() override;
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString GetSetting(const QString &key, const QString &defaultValue) const;
    QString GetSetting(const SettingKeys::Key &key) const { return GetSetting(key.name, key.defaultValue); }
    /// Saves one value; nothing is written when the file already holds it.
    void SaveSetting(const QString &key, const QString &value);
    void SaveSetting(const SettingKeys::Key &key, const QString &value) { SaveSetting(key.name, value); }
    /// Saves the values in the order given, in one write: after a crash the file holds every new value
    /// or none. When the file already holds every value, nothing is written.
    void SaveSettings(const QList<std::pair<SettingKeys::Key, QString>> &values);
    /// Saves a value the user is typing: read back at once like any save, but written only after
    /// TypingPauseMs without a further typed save (or with the next other save), so that a word typed
    /// costs one write instead of one per key. Needs the event loop of this store's thread.
    void SaveTypedSetting(const SettingKeys::Key &key, const QString &value);
    /// Writes every pending save, and tries again those that failed; returns once they are on the disk
    /// or have failed. True when the file holds every value saved.
    bool WaitForWrites();

    /// Reads the file again, for what another program saved; values not on the disk yet stay over it.
    void Reload();

    /// Keys present in the section, for tests and diagnostics.
    QStringList keys() const;
    QString fileName() const;

    /// Whole-number value of a stored check state or list position; nullopt when the text is not one.
    static std::optional<int> toWholeNumber(const QString &text);

    /// Why there is no folder to keep settings in, in words ("HOME is not set"); empty when
    /// $XDG_CONFIG_HOME is an absolute path that is a folder or not there yet (a write makes it), or
    /// else $HOME, an absolute path, names an existing folder. A home is never made.
    static QString whyNoConfigFolder();

signals:
    /// A write of the file failed, for a status line: "Settings not saved: " and the cause. Every
    /// store of the file hears it, from the worker thread.
    void saveFailed(const QString &reason);
    /// A write of the file succeeded, after an earlier one may have failed; from the worker thread.
    void saved();

private:
    struct Shared;

    // What the file holds and what is not on it yet, shared by every store of the same file in the
    // process, so that each of them reads the values as soon as they are saved.
    std::shared_ptr<Shared> m_shared;
    QTimer *m_typing; // the pause after a typed save
};

#pragma once

#include "Guarded.h"

#include <QMap>
#include <QObject>
#include <QString>

class AddressMonitor;
class QJsonArray;
struct LookupResult;
class QFileSystemWatcher;
class QTimer;
class SettingsStore;

/// The ways netquill-monitor runs the model, each ending with the program's exit code (through
/// QCoreApplication::exit for those that run the event loop).
class MonitorService : public QObject {
    Q_OBJECT
public:
    /// Runs the model main() built, over its store.
    MonitorService(SettingsStore &store, AddressMonitor &monitor, QObject *parent = nullptr);
    ~MonitorService() override;

    /// As a service: a lookup now and then every `minutes` (0: the stored interval), each change
    /// mailed as the desktop program does, until SIGTERM or SIGINT. False (logged) when another
    /// netquill-monitor of this user runs already.
    bool startService(int minutes);
    /// One lookup, stored and mailed as any; the exit code follows once the mail session ended: 0, or
    /// 1 when the lookup or the notice failed, its status on standard error.
    void startOnce();
    /// --print: the addresses on standard output, as two lines or one JSON object; nothing is stored
    /// or sent. 0, or 1 with the status on standard error.
    void startPrint(bool json);
    /// --test-notify: a test notice through the channel of that name; 0 when it was delivered, else 1
    /// with the cause on standard error.
    void startTestNotify(const QString &name);
    /// --history: the recorded changes and outages, oldest first, as lines or a JSON array.
    static int printHistory(bool json);

    /// How long a running mail session is given once the program is asked to end.
    /// How long the settings file must stay quiet before it is read again: a save is several events.
    static constexpr int ReloadPauseMs = 500;

private:
    void LogStatus(const QString &text);
    void EndForSignal(int signal);
    void Exit(int code);
    /// --once: ends once its notices (the mail and every channel's) have ended.
    void ExitOnceNoticesEnded();
    /// The channels and their last results, for --print --json.
    QJsonArray channelsJson() const;
    /// --once and --print: a lookup that gave no addresses ends the program with 1.
    bool EndedWithoutAddresses(const LookupResult &result);
    /// Follows the settings file, which the desktop program edits while the service runs.
    void WatchSettings();
    void ReloadSettings();

    SettingsStore &m_store;
    AddressMonitor *m_monitor;
    bool m_ending = false;
    bool m_completed = false;       // the lookup of --once or --print has its addresses
    bool m_noticeFailed = false;    // --once: the change's notice failed or could not start
    Guarded<QString> m_saveFailure; // why the last save failed, from the store's writer thread
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_reloadPause = nullptr;
};

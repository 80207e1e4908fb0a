#pragma once

#include "AddressHistory.h"
#include "ChangeCommand.h"
#include "ChannelConfig.h"
#include "IpSnapshot.h"
#include "IpSource.h"
#include "LookupResult.h"
#include "MailSettings.h"
#include "MetricsFile.h"
#include "NoticeChannels.h"
#include "NotifierLock.h"
#include "Options.h"
#include "RefreshSchedule.h"
#include "SettingKeys.h"
#include "SmtpSession.h"

#include <QDateTime>
#include <QObject>
#include <functional>

class ChannelSecrets;
class IPv6Track;
class LookupCycle;
class NoticeChannels;
class MailPassword;
class MailSender;
class NetworkWatch;
class NotificationBacklog;
class PageFetcher;
class QTimer;
class SettingsStore;
class SourceProbe;

/// What Netquill knows and decides, without any window: the options, the addresses and where they
/// came from, the lookup schedule, the change rule and the notification policy (a change is mailed
/// when asked for; a notice not yet sent is sent again after the next lookup). The desktop program
/// shows it and changes it through it; the service runs it alone.
class AddressMonitor : public QObject {
    Q_OBJECT
public:
    /// The addresses the last lookup showed, the source that answered and when.
    struct Snapshot {
        IpSnapshot addresses{Unknown, Unknown};
        QString source;
        QDateTime when; // UTC; invalid before the first lookup
    };
    /// What the addresses read before the first lookup.
    static inline const QString Unknown = QStringLiteral("000.000.000.000");

    explicit AddressMonitor(SettingsStore &store, QObject *parent = nullptr);
    ~AddressMonitor() override;

    /// When lookups repeat after Load: as the stored options say (the desktop program), always (a
    /// service), or never (a single lookup).
    enum class Repeat { AsStored, Always, Never };
    /// Before Load. minutes (1 or more) replaces the stored interval; nothing is saved either way.
    void setRepeat(Repeat repeat, int minutes = 0);
    /// Before Load: the mail password comes from a systemd credential or the password file the
    /// settings name before the keyring (see ServerPassword), for machines without a desktop.
    void useServerPassword(bool on) { m_serverPassword = on; }
    /// Before the lookup: it only looks (`--print`): nothing is stored, recorded, mailed or run.
    void setLookOnly();

    /// Reads the options, the mail settings, the sources and the previous addresses, and starts the
    /// auto-refresh clock when it is on. Nothing is written back.
    void Load();
    /// Reads the options, the mail settings and the sources again, after another program changed
    /// them; the previous addresses stay as they are.
    void Reload();
    /// The desktop program's restore, after Load: writes back what ticking each restored box and
    /// choosing the restored interval would write, in that order, with the log-on entry written again
    /// so that it follows the program when it has moved.
    void WriteBackRestored();
    /// The desktop program's main window closed: no more lookups, network watch or notices; a mail
    /// session already talking to its server finishes.
    void Stop();
    bool stopped() const { return m_stopped; }
    /// The Refresh operation: a lookup now.
    void Refresh();

    /// Every option, as read and saved; windows and the service follow its changed signal.
    Options &options() { return m_options; }
    bool autoRefresh() const { return m_options.autoRefresh(); }
    /// Switches the clock on or off; the count starts again either way. Saved.
    void setAutoRefresh(bool on);
    /// The interval's position in the list (0: 1 min ... 4: 60 min; -1: none chosen).
    int refreshPosition() const { return m_options.refreshPosition(); }
    void setRefreshPosition(int position);
    bool emailNotify() const { return m_options.emailNotify(); }
    void setEmailNotify(bool on);
    bool desktopNotify() const { return m_options.desktopNotify(); }
    void setDesktopNotify(bool on);
    bool runAtStartup() const { return m_options.runAtStartup(); }
    /// The option, and the log-on entry where one is kept (setStartupEntry).
    void setRunAtStartup(bool on);
    /// Writes (true) or removes (false) the log-on entry; only the desktop program keeps one.
    void setStartupEntry(std::function<void(bool on)> write) { m_startupEntry = std::move(write); }
    bool watchNetwork() const { return m_options.watchNetwork(); }
    /// A lookup when the network changes or the machine wakes, beside the clock's own. Saved.
    void setWatchNetwork(bool on);
    /// The watch is running: the option is on and the program has not stopped.
    bool watchingNetwork() const { return m_watch != nullptr; }
    /// After a network change or a wake, a failed lookup is tried again after these, in turn, before
    /// the clock's next lookup: name resolution is often not ready for a few seconds after resume.
    void setWakeRetryDelays(const QList<int> &milliseconds) { m_wakeRetryDelaysMs = milliseconds; }
    /// Reads the sources from the store (before Load, for a lookup that reads nothing else).
    void LoadSources();
    /// The sources as stored, switched-off ones included, in their order.
    QList<IpSource> sources() const { return m_options.sources(); }
    /// Netquill's own page, as the sources name it.
    QUrl productPage() const;
    /// Stored, and asked from the next lookup on.
    void setSources(const QList<IpSource> &sources);
    /// Whether a new external address waits for a second source (with two or more sources on). Saved.
    bool confirmChanges() const { return m_options.confirmChanges(); }
    void setConfirmChanges(bool on);
    /// What one source gave the sources window's Test.
    struct SourceTestAnswer {
        bool isAddress = false;
        QString address; // as the source gave it, when it is an address
        /// Unless it answered with an address, why not, in a few words ("connection refused").
        QString reason;
        qint64 elapsedMs = 0;
    };
    /// The sources window's Test: asks each of sources at once, switched off or not, each within a time
    /// limit; a Test still running is dropped. Returns them as asked (the product's page with its URL),
    /// in the order sourceTested counts; sourcesTested follows the last answer.
    QList<IpSource> TestSources(QList<IpSource> sources);
    bool sourcesTesting() const;
    /// Drops the Test still running (its window closed).
    void EndSourceTest();
    /// The time limit of each source, from the next Test on.
    void setSourceTestTimeout(int milliseconds) { m_sourceTestTimeoutMs = milliseconds; }
    /// Before Load: the Prometheus file written after each lookup, in place of the one the settings
    /// name (metricsFile).
    void setMetricsFile(const QString &path) { m_metricsOverride = path; }
    /// The command run after a change, as typed; empty: none.
    QString changeCommand() const { return m_options.changeCommand(); }
    void setChangeCommand(const QString &command);
    /// What the command is given: the addresses of the last lookup and those stored before it (before
    /// the first lookup, the stored ones are the newest the program knows).
    ChangeCommand::Inputs commandInputs() const;
    /// The command window's Test: runs the command line once now with commandInputs(), beside the
    /// command on change. commandTestStatus tells at once why it does not run, or that it runs, and
    /// later how it ended, with commandTestEnded after it. False when it does not run.
    bool TestCommand(const QString &commandLine);
    /// The Test runs or waits to run.
    bool commandTesting() const { return m_commandTest && m_commandTest->busy(); }
    /// Ends the Test, and what its command left running (its window closed).
    void EndCommandTest();
    /// A longer command line is not run.
    static constexpr qsizetype MaxCommandLength = ChangeCommand::MaxCommandLength;

    const Snapshot &current() const { return m_current; }
    /// IPv4 and IPv6 followed apart (off by default): each family has its own external and internal
    /// address, sources, confirmation, failures and record. Saved; no notice follows by itself.
    bool followFamilies() const { return m_options.followFamilies(); }
    void setFollowFamilies(bool on);
    /// The IPv6 track's addresses as last shown, while followFamilies(): Unknown before its first
    /// lookup, NoIPv6 for a family found to have no address.
    const Snapshot &current6() const { return m_current6; }
    static inline const QString NoIPv6 = QStringLiteral("no IPv6");
    static inline const QString NoIPv4 = QStringLiteral("no IPv4");
    IpSnapshot previous() const;

    /// The auto-refresh clock, one tick a second while auto-refresh is on: the main window's timer.
    QTimer *clock() { return m_clock; }
    /// Between two lookups of the clock, in seconds; 0 while no interval is chosen.
    int intervalSeconds() const { return m_schedule.threshold().value_or(0); }
    /// The mail settings as the notification uses them.
    const MailSettings &mailSettings() const { return m_mail; }
    /// One of the mail keys (server, port, addresses, security, user), as typed: stored and used from
    /// the session's next step on.
    void setMailSetting(const SettingKeys::Key &key, const QString &text);
    /// Kept in the keyring, never in the store; used from the session's next step on.
    void setMailPassword(const QString &password);
    /// Reads the password from the keyring, once; mailPasswordLoaded follows.
    void loadMailPassword();
    /// A password typed a moment ago goes to the keyring now rather than after the pause.
    void flushMailPassword();
    /// False where no keyring answers: the password is kept only until the program ends.
    bool keyringAvailable() const;
    bool mailBusy() const;
    /// Runs end once no mail is under way, or after MailMomentMs at most: a notice still talking to its
    /// server gets that moment to end, well or not, so that its unsent mark is right.
    void EndAfterMail(std::function<void()> end);
    static constexpr int MailMomentMs = 5000;
    /// Why holdRecord could not take the notifier lock: another live process holds it (elsewhere), or
    /// its file cannot be made (why, in words).
    struct Refusal {
        bool elsewhere = false;
        QString lockFile;
        QString why;
    };
    /// Takes the notifier lock, waiting up to timeoutMs: this process keeps the record (history, mail,
    /// command), and a desktop program leaves changes to it. Nothing once it is held.
    std::optional<Refusal> holdRecord(int timeoutMs = 0);
    /// The history file the lookups append their changes and outages to; empty without a home.
    QString historyFile() const { return m_history.path(); }
    /// The user's command run after a change runs or waits to.
    bool commandBusy() const { return m_command->busy(); }
    /// The send operation of the notification; a test message from the mail dialog too. Its job number
    /// (see MailSender), or 0 when it was refused before a session was asked.
    quint64 SendMail();
    /// One tick of the auto-refresh clock: a lookup when the count is due, after the running one when
    /// that asks a chain of sources.
    void Tick();

    /// The notice channels beyond the mail, the command and the desktop notification.
    QList<ChannelConfig> channels() const { return m_options.channels(); }
    /// Adds the channel, or replaces the one named `was`. secret: its token, signing secret or Apprise
    /// URLs, for the keyring; nullopt keeps the one it has. False (with why) when it cannot be used.
    bool saveChannel(const QString &was, const ChannelConfig &channel, const std::optional<QString> &secret,
                     QString *why = nullptr);
    void removeChannel(const QString &name);
    void setChannelPaused(const QString &name, bool paused);
    /// A test notice through the channel now; channelTested follows. False when none has the name.
    bool TestChannel(const QString &name);
    /// Each channel's last result, as kept for every program on this account.
    QHash<QString, NoticeChannels::Result> channelResults() const;
    /// Whether the Apprise channel can work here: its command is installed.
    static bool appriseInstalled();
    /// A channel's notice is under way, retries included; channelsIdle follows its end.
    bool channelsBusy() const { return m_channels->pending() > 0; }
    /// The waits between the tries of a failed channel (none: one try).
    void setChannelRetryDelays(const QList<int> &milliseconds);

signals:
    void statusChanged(const QString &text);
    /// The address labels are to show these texts; the lookup's end follows.
    void addressesShown(const IpSnapshot &current);
    /// The IPv6 labels are to show these texts (while followFamilies()).
    void addresses6Shown(const IpSnapshot &current6);
    /// The windows show the IPv6 addresses (on) or not.
    void followFamiliesChanged(bool on);
    /// A lookup ended, well or not. An answered one has stored its addresses and written the history;
    /// its notice and command start right after this.
    void lookupFinished(const LookupResult &result);
    /// A change's notice was delivered (true), failed, or could not be started (false).
    void noticeEnded(bool delivered);
    /// The command run after a change ended, or could not be started; commandBusy() tells whether
    /// another follows.
    void commandFinished(bool ok);
    /// The command window's Test: what to show of it.
    void commandTestStatus(const QString &text);
    /// Its command ended, with its output as far as it is kept; commandTesting() tells whether another
    /// follows.
    void commandTestEnded(const QString &output);
    /// The source at index of TestSources' list has answered, or failed.
    void sourceTested(int index, const AddressMonitor::SourceTestAnswer &answer);
    /// Every source of the Test has answered or failed.
    void sourcesTested();
    /// The mail password as the keyring holds it (empty when it holds none).
    void mailPasswordLoaded(const QString &password);
    void keyringAvailableChanged(bool available);
    /// A write of the settings file failed ("Settings not saved: " and the cause), or one succeeded
    /// after that; the values stay and go out with the next save.
    void saveFailed(const QString &reason);
    void saved();
    /// The first failed lookup of this run had only Netquill's own page to ask, and no name server
    /// knows its host: nothing will answer until the user chooses another source. Looked into only
    /// while something listens.
    void sourceNeeded(const QString &host);
    void channelTested(const QString &name, bool delivered, const QString &cause);
    /// The channel list changed, here or in another program's save.
    void channelsChanged();
    void channelsIdle();
    /// A channel's notice ended, after its retries; its last result is kept.
    void channelEnded(const QString &name, bool delivered, const QString &cause);

private:
    // Parts the tests look at themselves.
    friend class AddressMonitorWatchTest;
    friend class Form1Test;
    friend class MailPasswordTest;
    PageFetcher *fetcher() { return WebBrowser1; }
    RefreshSchedule &schedule() { return m_schedule; }
    /// The watch while the option is on; null while it is off.
    NetworkWatch *networkWatch() { return m_watch; }
    MailPassword *password() { return m_password; }
    /// The notification's session, which runs on a thread of its own.
    MailSender *session() { return m_session; }

    /// The IPv4 (or only) lookup ended: acted on at once, or once the IPv6 track has ended too.
    void OnLookupFinished(const LookupResult &result);
    void OnTrack6Ended(const LookupResult::IPv6 &result);
    /// The one place a lookup's end is acted on.
    void Process(const LookupResult &result);
    /// The IPv6 track's part of a lookup's end: its addresses, its history lines, the mail's text.
    void ProcessIPv6(const LookupResult::IPv6 &result, bool mine);
    /// A lookup of either track is under way.
    bool lookupBusy() const;
    /// Into the metrics file, where there is one and this process keeps the record.
    void Count(const MetricsEvent &event);
    void Notify(const LookupResult &result, bool mine);
    /// The channels' notices of a lookup's end, once its receivers saw it; each runs on its own.
    void NotifyChannels(const LookupResult &result);
    Notice noticeOf(Notice::Event event) const;
    /// Reads every option and applies what is read each time whole: the mail, the metrics, the sources.
    void ReadOptions();
    /// An option took a new value, set here or read from the file: the parts that use it follow.
    void OptionChanged(const QString &key);
    void ApplyMail();
    void ApplyMetrics();
    void ApplySources();
    /// The clock as the stored option says, where it follows the option (the desktop program).
    void ApplyClock();
    /// The one place the clock starts and stops; its count starts again either way.
    void SetClock(bool running);
    bool keepsTheRecord() const;
    /// After the first failed lookup: is there any source the user could have meant to be asked?
    void CheckTheOnlySource();
    /// Puts the password of a login in place; false (with the status shown) when it cannot be had.
    bool PreparePassword();
    /// Hands the mail settings over to the session after a change.
    void MailChanged();
    QString settingsFolder() const;
    void ApplyWatch();
    void OnNetworkChanged();
    /// A failed lookup soon after a network change: one more, after the next of the wake retry delays.
    void RetryAfterWake();

    SettingsStore &m_store;
    /// Fetches the external-address page: the main window's browser control, kept here so that the
    /// service, which has no window, looks up the same way.
    PageFetcher *WebBrowser1;
    LookupCycle *m_lookup;
    RefreshSchedule m_schedule;
    QTimer *m_clock;
    MailSettings m_mail;
    SmtpMessageInputs m_message; // what the notification says besides the mail settings
    MailPassword *m_password;
    MailSender *m_session;
    NotificationBacklog *m_backlog;
    NotifierLock m_notifierLock;
    ChangeCommand *m_command;
    ChangeCommand *m_commandTest = nullptr; // the command window's Test, made when first asked for
    SourceProbe *m_sourceTest = nullptr;    // the sources window's
    int m_sourceTestTimeoutMs = 0;          // 0: the probe's own
    Snapshot m_current;
    Snapshot m_current6;
    IPv6Track *m_track6;
    bool m_waiting6 = false;                   // the IPv6 track of the lookup under way has not ended
    std::optional<LookupResult> m_held4;       // the IPv4 track's end, waiting for the IPv6 one
    std::optional<LookupResult::IPv6> m_held6; // and the other way round
    QString m_metricsOverride;
    std::optional<MetricsFile> m_metrics;
    std::function<void(bool on)> m_startupEntry;
    bool m_stopped = false;
    bool m_firstFailureSeen = false;
    Repeat m_repeat = Repeat::AsStored;
    int m_repeatMinutes = 0;
    bool m_serverPassword = false;
    bool m_lookOnly = false;
    bool m_passwordFixed = false; // m_mail holds a server password, which the keyring must not replace
    NetworkWatch *m_watch = nullptr;
    bool m_lookUpAgain = false; // the network changed or the clock ticked while a lookup ran
    QList<int> m_wakeRetryDelaysMs{5000, 15000, 45000};
    qsizetype m_wakeRetries = -1; // retries made since the last network change; -1: none is due
    AddressHistory m_history;
    Options m_options;
    ChannelSecrets *m_secrets;
    NoticeChannels *m_channels;
    bool m_outage = false; // the last lookup failed: a ping's failure form went out
};

#include "AddressMonitor.h"

#include "AppriseChannel.h"
#include "ChangeCommand.h"
#include "ChannelSecrets.h"
#include "ExternalIpPage.h"
#include "IPv6Track.h"
#include "IpSourceList.h"
#include "LookupCycle.h"
#include "LookupLog.h"
#include "MailLog.h"
#include "MailPassword.h"
#include "MailSender.h"
#include "MetricsLog.h"
#include "NetworkWatch.h"
#include "NotificationBacklog.h"
#include "PageFetcher.h"
#include "ServerPassword.h"
#include "SettingsStore.h"
#include "SourceProbe.h"
#include "StableAddress6.h"
#include "Winsock.h"
#include "modIdentity.h"

#include <netquill/BuildIdentity.h>

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QMetaMethod>
#include <QSysInfo>
#include <QTimer>
#include <utility>

namespace {
// What the history compares a lookup's addresses with: an address that is no change by the lookup's rule
// (a temporary IPv6 address replaced within its prefix) counts as the current one, and gets no line.
template <typename Result> IpSnapshot comparedWith(const Result &result)
{
    return {result.internalChanged ? result.previous.internal : result.current.internal,
            result.externalChanged ? result.previous.external : result.current.external};
}
} // namespace

AddressMonitor::AddressMonitor(SettingsStore &store, QObject *parent)
    : QObject(parent), m_store(store), WebBrowser1(new PageFetcher(this)),
      m_lookup(new LookupCycle(store, WebBrowser1, ExternalIpPage::url(), &Winsock::LocalIP, this)),
      m_clock(new QTimer(this)),
      m_password(new MailPassword(QString::fromUtf8(BuildIdentity::ProductName), this)),
      m_notifierLock(QFileInfo(store.fileName()).absolutePath()), m_command(new ChangeCommand(this)),
      m_options(store), m_secrets(new ChannelSecrets(QString::fromUtf8(BuildIdentity::ProductName), this))
{
    const QString stateFolder = QFileInfo(AddressHistory::defaultPath()).path();
    m_channels = new NoticeChannels(
        *m_secrets,
        AddressHistory::defaultPath().isEmpty() ? QString() : stateFolder + QStringLiteral("/channels.json"),
        this);
    connect(m_channels, &NoticeChannels::ended, this,
            [this](const QString &name, bool delivered, const QString &cause) {
                if (!delivered)
                    m_history.noticeUnsent(name, cause);
                MetricsEvent event = MetricsEvent::of(delivered ? MetricsEvent::Kind::NoticeSent
                                                                : MetricsEvent::Kind::NoticeFailed);
                event.source = name;
                Count(event);
                emit channelEnded(name, delivered, cause);
            });
    connect(m_channels, &NoticeChannels::tested, this, &AddressMonitor::channelTested);
    connect(m_channels, &NoticeChannels::idle, this, &AddressMonitor::channelsIdle);
    connect(&m_options, &Options::changed, this, &AddressMonitor::OptionChanged);
    // Beside the history: a source's pause outlasts this process, so that a cron job honours it.
    const QString pauses =
        QFileInfo(AddressHistory::defaultPath()).dir().filePath(QStringLiteral("source-pauses.txt"));
    m_lookup->setPausesFile(pauses);
    m_track6 = new IPv6Track(store, &StableAddress6::find, this);
    m_track6->cycle()->setPausesFile(pauses);
    connect(m_track6, &IPv6Track::ended, this, &AddressMonitor::OnTrack6Ended);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &AddressMonitor::Tick);

    connect(m_lookup, &LookupCycle::statusChanged, this, &AddressMonitor::statusChanged);
    connect(m_lookup, &LookupCycle::addressesShown, this, &AddressMonitor::addressesShown);
    connect(m_lookup, &LookupCycle::finished, this, &AddressMonitor::OnLookupFinished);
    // A command that went well leaves the status line to the lookup and the mail, and is only logged.
    connect(m_command, &ChangeCommand::finished, this, [this](bool ok, const QString &status) {
        Count(MetricsEvent::of(ok ? MetricsEvent::Kind::CommandOk : MetricsEvent::Kind::CommandFailed));
        if (!ok)
            emit statusChanged(status);
    });
    connect(m_command, &ChangeCommand::finished, this, &AddressMonitor::commandFinished);
    connect(&m_store, &SettingsStore::saveFailed, this, &AddressMonitor::saveFailed);
    connect(&m_store, &SettingsStore::saved, this, &AddressMonitor::saved);

    m_message = {{}, {}, {}, Unknown, Unknown};
    m_session = new MailSender(this);
    connect(m_session, &MailSender::statusChanged, this, &AddressMonitor::statusChanged);
    connect(m_password, &MailPassword::loaded, this, [this](const QString &password) {
        if (m_passwordFixed)
            return;
        m_mail.strPassword = password;
        MailChanged();
    });
    connect(m_password, &MailPassword::loaded, this, &AddressMonitor::mailPasswordLoaded);
    connect(m_password, &MailPassword::keyringAvailableChanged, this,
            &AddressMonitor::keyringAvailableChanged);
    m_backlog = new NotificationBacklog(
        m_store, [this] { return SendMail(); }, this);
    connect(m_session, &MailSender::finished, m_backlog, &NotificationBacklog::SendFinished);
    connect(m_backlog, &NotificationBacklog::ended, this, [this](bool delivered) {
        Count(MetricsEvent::of(delivered ? MetricsEvent::Kind::MailSent : MetricsEvent::Kind::MailFailed));
        emit noticeEnded(delivered);
    });
}

AddressMonitor::~AddressMonitor() = default;

void AddressMonitor::Load()
{
    modIdentity::LoadProductIdentity();
    const ProductIdentity &identity = modIdentity::Identity();
    m_message.programName = identity.strProgramName;
    m_message.company = identity.strCompany;
    m_message.website = identity.strWebsite;
    m_session->setInputs(m_message);
    ReadOptions();
    m_lookup->LoadPrevious();
    m_track6->cycle()->LoadPrevious();

    m_schedule.applyInterval(m_options.refreshPosition());
    m_schedule.applyMinutes(m_repeatMinutes);
    SetClock(m_repeat == Repeat::Always || (m_repeat == Repeat::AsStored && m_options.autoRefresh()));
    ApplyWatch();
}

void AddressMonitor::ReadOptions()
{
    const QString userBefore = m_mail.strUser;
    m_options.read();
    ApplyMail();
    // Read ahead, so that the first notification does not wait for the keyring; not where the
    // password comes from elsewhere, which may be a machine with no keyring at all.
    if (!m_mail.strUser.isEmpty() &&
        (m_mail.strUser != userBefore || m_password->state() == MailPassword::State::NotLoaded) &&
        (!m_serverPassword || ServerPassword::find(m_options.passwordFile(), settingsFolder()).outcome ==
                                  ServerPassword::Outcome::None))
        m_password->Load();
    ApplyMetrics();
    ApplySources();
    m_channels->setChannels(m_options.channels());
}

void AddressMonitor::ApplyMetrics()
{
    QString metrics = m_metricsOverride;
    if (metrics.isEmpty()) {
        // Held to the command-line option's rule, so that a slip in the file cannot replace another
        // file; a relative name is in the settings folder, as the password file's.
        metrics = m_options.metricsFile().trimmed();
        if (!metrics.isEmpty() && !MetricsFile::isMetricsName(metrics)) {
            qCWarning(lcMetrics).noquote() << "metricsFile takes a file name ending in .prom, not" << metrics
                                           << "- no metrics are written";
            metrics.clear();
        } else if (!metrics.isEmpty()) {
            metrics = QDir(settingsFolder()).absoluteFilePath(metrics);
        }
    }
    if (metrics.isEmpty())
        m_metrics.reset();
    else if (!m_metrics || m_metrics->path() != metrics)
        m_metrics.emplace(metrics);
}

void AddressMonitor::ApplySources()
{
    m_lookup->setFamily(m_options.followFamilies() ? IpSource::Family::IPv4 : IpSource::Family::Any);
    for (LookupCycle *cycle : {m_lookup, m_track6->cycle()}) {
        cycle->setSources(m_options.sources());
        cycle->setConfirming(m_options.confirmChanges());
        cycle->setIPv6Prefix(m_options.ipv6Prefix());
    }
}

void AddressMonitor::ApplyMail()
{
    const MailSettings read = m_options.mail();
    const std::optional<QString> password = m_mail.strPassword;
    m_mail = read;
    m_mail.strPassword = password;
    MailChanged();
}

void AddressMonitor::SetClock(bool running)
{
    m_schedule.resetCount();
    if (running)
        m_clock->start();
    else
        m_clock->stop();
}

void AddressMonitor::ApplyClock()
{
    if (m_repeat == Repeat::AsStored && m_options.autoRefresh() != m_clock->isActive())
        SetClock(m_options.autoRefresh());
}

void AddressMonitor::OptionChanged(const QString &key)
{
    const auto is = [&key](const SettingKeys::Key &option) { return key == QLatin1String(option.name); };
    if (is(SettingKeys::Refresh)) {
        ApplyClock();
    } else if (is(SettingKeys::RefreshRate)) {
        m_schedule.applyInterval(m_options.refreshPosition());
        m_schedule.applyMinutes(m_repeatMinutes);
    } else if (is(SettingKeys::WatchNetwork)) {
        ApplyWatch();
    } else if (is(SettingKeys::IpSources) || is(SettingKeys::ConfirmChanges) || is(SettingKeys::IPv6Prefix)) {
        ApplySources();
    } else if (is(SettingKeys::MetricsFile)) {
        ApplyMetrics();
    } else if (is(SettingKeys::FollowFamilies)) {
        ApplySources();
        emit followFamiliesChanged(m_options.followFamilies());
    } else if (is(SettingKeys::NoticeChannels)) {
        m_channels->setChannels(m_options.channels());
        emit channelsChanged();
    } else if (Options::isMailKey({key.toLatin1().constData(), ""})) {
        ApplyMail();
    }
}

void AddressMonitor::Reload()
{
    if (m_stopped)
        return;
    // The previous addresses stay this process's own: a change another program saw first is still
    // one for this one to report.
    // Each option whose text changed is applied as it is told (OptionChanged).
    m_store.Reload();
    ReadOptions();
}

void AddressMonitor::WriteBackRestored()
{
    // A box restored unticked and a list left with no item are as they start: nothing to write. What
    // the program cannot read stays in the file as the user left it.
    if (m_options.autoRefresh())
        m_options.setAutoRefresh(true);
    if (m_options.runAtStartup())
        setRunAtStartup(true);
    if (m_options.emailNotify())
        m_options.setEmailNotify(true);
    if (m_options.positionRestored() && m_options.refreshPosition() >= 0)
        m_options.setRefreshPosition(m_options.refreshPosition());
}

void AddressMonitor::Stop()
{
    m_stopped = true;
    m_clock->stop();
    ApplyWatch(); // off once stopped; the stored option stays as the user set it
    m_lookup->Stop();
    m_track6->Stop();
    m_waiting6 = false;
}

void AddressMonitor::setRepeat(Repeat repeat, int minutes)
{
    m_repeat = repeat;
    m_repeatMinutes = minutes;
}

QString AddressMonitor::settingsFolder() const
{
    return QFileInfo(m_store.fileName()).absolutePath();
}

void AddressMonitor::Refresh()
{
    if (m_stopped)
        return;
    // A lookup starting now sees the network as it is: it serves a change seen before it.
    m_lookUpAgain = false;
    m_held4.reset();
    m_held6.reset();
    m_waiting6 = m_options.followFamilies();
    if (m_waiting6)
        m_track6->Refresh();
    m_lookup->Refresh();
}

void AddressMonitor::Tick()
{
    if (!m_schedule.tick())
        return;
    // Each source keeps its time-out, so a chain of them may outlast the interval: restarted at every
    // tick it would never reach its last sources. It runs to its end, and this lookup follows it.
    if (lookupBusy() && !(m_lookup->replaceable() && !m_track6->busy())) {
        qCInfo(lcLookup) << "The lookup under way is left to end; the one due now follows it";
        m_lookUpAgain = true;
        return;
    }
    Refresh();
}

void AddressMonitor::setLookOnly()
{
    m_lookOnly = true;
    m_lookup->setStoring(false);
    m_track6->cycle()->setStoring(false);
}

void AddressMonitor::setAutoRefresh(bool on)
{
    m_options.setAutoRefresh(on);
    // The count starts again either way, whatever the clock's mode.
    SetClock(on);
    m_schedule.applyInterval(m_options.refreshPosition());
}

void AddressMonitor::setRefreshPosition(int position)
{
    m_options.setRefreshPosition(position);
    m_schedule.applyInterval(position);
}

void AddressMonitor::setEmailNotify(bool on)
{
    m_options.setEmailNotify(on);
}

void AddressMonitor::setDesktopNotify(bool on)
{
    m_options.setDesktopNotify(on);
}

void AddressMonitor::setRunAtStartup(bool on)
{
    if (m_startupEntry)
        m_startupEntry(on);
    m_options.setRunAtStartup(on);
}

void AddressMonitor::setWatchNetwork(bool on)
{
    m_options.setWatchNetwork(on);
    ApplyWatch();
}

void AddressMonitor::ApplyWatch()
{
    if (!m_options.watchNetwork() || m_stopped) {
        // Off means nothing open: the socket goes with the watch.
        delete m_watch;
        m_watch = nullptr;
        return;
    }
    if (m_watch)
        return;
    m_watch = new NetworkWatch(this);
    connect(m_watch, &NetworkWatch::changed, this, &AddressMonitor::OnNetworkChanged);
    m_watch->start();
}

void AddressMonitor::OnNetworkChanged()
{
    m_wakeRetries = 0;
    // Restarting a running lookup would throw its answer away, and a change after its page was
    // fetched would go unseen: one more lookup follows it instead. The clock's count runs on.
    if (lookupBusy())
        m_lookUpAgain = true;
    else
        Refresh();
}

void AddressMonitor::CheckTheOnlySource()
{
    // Out of the box the only source is a page whose host the user has not set up; a host the name
    // service does not know tells that apart from a network that is down.
    // Only for a window that can point the way (the tray); a single run of the service ends at once.
    if (!isSignalConnected(QMetaMethod::fromSignal(&AddressMonitor::sourceNeeded)))
        return;
    const QList<IpSource> sources = m_lookup->sources();
    if (sources.size() != 1 || !sources.first().productPage)
        return;
    const QString host = sources.first().url.host();
    if (!QHostAddress(host).isNull())
        return; // an address needs no name service
    QHostInfo::lookupHost(host, this, [this, host](const QHostInfo &info) {
        if (info.error() != QHostInfo::HostNotFound)
            return;
        qCWarning(lcLookup).noquote() << "Netquill's own page has no address:" << host << "is unknown to the"
                                      << "name service. Choose a public source in Action, Address Sources...";
        emit sourceNeeded(host);
    });
}

std::optional<AddressMonitor::Refusal> AddressMonitor::holdRecord(int timeoutMs)
{
    if (m_notifierLock.acquire(timeoutMs))
        return std::nullopt;
    return Refusal{m_notifierLock.error() == QLockFile::LockFailedError, m_notifierLock.fileName(),
                   m_notifierLock.errorText()};
}

bool AddressMonitor::keepsTheRecord() const
{
    // One change, one history line, mail and command, from whichever program holds the notifier
    // lock; a lookup that only looks records nothing.
    return !m_lookOnly && !m_notifierLock.heldElsewhere();
}

void AddressMonitor::LoadSources()
{
    m_options.readSources();
    ApplySources();
}

QUrl AddressMonitor::productPage() const
{
    return m_lookup->productPage();
}

void AddressMonitor::setSources(const QList<IpSource> &sources)
{
    m_options.setSources(sources);
    ApplySources();
}

void AddressMonitor::setFollowFamilies(bool on)
{
    m_options.setFollowFamilies(on);
}

void AddressMonitor::setConfirmChanges(bool on)
{
    m_options.setConfirmChanges(on);
}

void AddressMonitor::setChangeCommand(const QString &command)
{
    m_options.setChangeCommand(command);
}

ChangeCommand::Inputs AddressMonitor::commandInputs() const
{
    const IpSnapshot stored = previous();
    return {m_current.when.isValid() ? m_current.addresses : stored, stored, m_current.source};
}

bool AddressMonitor::TestCommand(const QString &commandLine)
{
    const ChangeCommand::Inputs inputs = commandInputs();
    const QString reason = ChangeCommand::whyNot(commandLine, inputs);
    if (!reason.isEmpty()) {
        emit commandTestStatus(QStringLiteral("Not run: ") + reason);
        return false;
    }
    if (!m_commandTest) {
        m_commandTest = new ChangeCommand(this);
        connect(m_commandTest, &ChangeCommand::statusChanged, this, &AddressMonitor::commandTestStatus);
        connect(m_commandTest, &ChangeCommand::finished, this,
                [this] { emit commandTestEnded(QString::fromLocal8Bit(m_commandTest->lastOutput())); });
    }
    emit commandTestStatus(QStringLiteral("Running with ") + inputs.current.external + QStringLiteral("..."));
    return m_commandTest->Run(commandLine, inputs);
}

void AddressMonitor::EndCommandTest()
{
    delete std::exchange(m_commandTest, nullptr); // ends its command at once, as closing its window did
}

QList<IpSource> AddressMonitor::TestSources(QList<IpSource> sources)
{
    if (!m_sourceTest) {
        m_sourceTest = new SourceProbe(this);
        connect(m_sourceTest, &SourceProbe::answered, this,
                [this](int index, const SourceProbe::Outcome &outcome) {
                    const bool isAddress = outcome.answer.verdict == SourceAnswer::Verdict::Address;
                    emit sourceTested(index, {isAddress, isAddress ? outcome.answer.address : QString(),
                                              outcome.reason, outcome.elapsedMs});
                });
        connect(m_sourceTest, &SourceProbe::finished, this, &AddressMonitor::sourcesTested);
    }
    if (m_sourceTestTimeoutMs > 0)
        m_sourceTest->setTimeout(m_sourceTestTimeoutMs);
    for (IpSource &source : sources)
        source.enabled = true;
    const QList<IpSource> asked = IpSourceList::active(sources, productPage());
    m_sourceTest->start(asked);
    return asked;
}

bool AddressMonitor::sourcesTesting() const
{
    return m_sourceTest && m_sourceTest->isRunning();
}

void AddressMonitor::EndSourceTest()
{
    delete std::exchange(m_sourceTest, nullptr);
}

IpSnapshot AddressMonitor::previous() const
{
    return m_lookup->previous();
}

quint64 AddressMonitor::SendMail()
{
    if (m_stopped || !PreparePassword())
        return 0;
    return m_session->Send();
}

bool AddressMonitor::mailBusy() const
{
    return m_session->busy();
}

void AddressMonitor::EndAfterMail(std::function<void()> end)
{
    if (!m_session->busy())
        return end();
    auto once = std::make_shared<std::function<void()>>(std::move(end));
    const auto run = [once] {
        if (*once)
            std::exchange(*once, {})();
    };
    connect(m_session, &MailSender::finished, this, [this, run] {
        if (!m_session->busy())
            run();
    });
    QTimer::singleShot(MailMomentMs, this, run);
}

void AddressMonitor::MailChanged()
{
    m_session->setSettings(m_mail);
}

void AddressMonitor::setMailSetting(const SettingKeys::Key &key, const QString &text)
{
    // Applied as the option tells of its change (OptionChanged).
    m_options.setMailSetting(key, text);
}

void AddressMonitor::setMailPassword(const QString &password)
{
    m_password->Save(password);
    if (m_passwordFixed)
        return;
    m_mail.strPassword = password;
    MailChanged();
}

void AddressMonitor::loadMailPassword()
{
    m_password->Load();
}

void AddressMonitor::flushMailPassword()
{
    m_password->Flush();
}

bool AddressMonitor::keyringAvailable() const
{
    return m_password->keyringAvailable();
}

bool AddressMonitor::PreparePassword()
{
    // One that will not log in needs none.
    if (m_mail.strUser.isEmpty())
        return true;
    // Looked at for every notice: a password file put right meanwhile counts from the next one.
    const ServerPassword server =
        m_serverPassword
            ? ServerPassword::find(m_store.GetSetting(SettingKeys::PasswordFile), settingsFolder())
            : ServerPassword{};
    switch (server.outcome) {
    case ServerPassword::Outcome::Refused:
        emit statusChanged(server.problem);
        return false;
    case ServerPassword::Outcome::Found:
        m_passwordFixed = true;
        m_mail.strPassword = server.password;
        MailChanged();
        return true;
    case ServerPassword::Outcome::None:
        break;
    }
    m_passwordFixed = false;
    // A login waits for the keyring's answer, which comes with the loaded signal.
    if (m_password->state() == MailPassword::State::Loaded) {
        m_mail.strPassword = m_password->value();
    } else {
        m_mail.strPassword.reset();
        m_password->Load();
    }
    MailChanged();
    return true;
}

bool AddressMonitor::lookupBusy() const
{
    return m_lookup->busy() || m_waiting6;
}

void AddressMonitor::OnLookupFinished(const LookupResult &result)
{
    if (!m_waiting6 && !m_held6)
        return Process(result);
    m_held4 = result;
    if (m_held6)
        OnTrack6Ended(*std::exchange(m_held6, std::nullopt));
}

void AddressMonitor::OnTrack6Ended(const LookupResult::IPv6 &result)
{
    m_waiting6 = false;
    if (!m_held4) {
        m_held6 = result;
        return;
    }
    // One end for both: a change of either family is one notice.
    LookupResult both = *std::exchange(m_held4, std::nullopt);
    both.ipv6 = result;
    both.changed = both.changed || result.changed;
    Process(both);
}

void AddressMonitor::ProcessIPv6(const LookupResult::IPv6 &result, bool mine)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (result.absent) {
        m_current6 = {{NoIPv6, NoIPv6}, {}, now};
    } else if (result.outcome == LookupResult::Outcome::Answered) {
        m_current6 = {result.current, result.source, now};
        if (mine)
            m_history.lookupCompleted(comparedWith(result), result.current, result.source);
    }
    emit addresses6Shown(m_current6.addresses);
    // Both of a kind on one line, IPv4 first.
    m_message.externalAddress =
        m_current.addresses.external + QStringLiteral(", ") + m_current6.addresses.external;
    m_message.internalAddress =
        m_current.addresses.internal + QStringLiteral(", ") + m_current6.addresses.internal;
    m_session->setInputs(m_message);
}

void AddressMonitor::Process(const LookupResult &result)
{
    // The one place a lookup's end is acted on, in this order: what it found, the history, the
    // windows, then the notice and the command.
    const bool mine = keepsTheRecord();
    if (result.outcome == LookupResult::Outcome::Disagreement) {
        if (mine)
            m_history.sourcesDisagreed(result.previous.external, result.cause);
        Count(MetricsEvent::of(MetricsEvent::Kind::LookupDisagreement));
    } else if (result.outcome == LookupResult::Outcome::Failed) {
        if (mine)
            m_history.lookupFailed(result.cause);
        Count(MetricsEvent::of(MetricsEvent::Kind::LookupFailed));
        // The labels keep the last good pair; the log says where the machine is now.
        qCInfo(lcLookup) << "No source answered; the internal address is now" << Winsock::LocalIP();
        if (!std::exchange(m_firstFailureSeen, true))
            CheckTheOnlySource();
        RetryAfterWake();
    } else if (result.answered()) {
        m_current = {result.current, result.source, QDateTime::currentDateTimeUtc()};
        // The message carries the addresses of the last lookup, as shown.
        m_message.externalAddress = result.current.external;
        m_message.internalAddress = result.current.internal;
        m_session->setInputs(m_message);
        if (mine)
            m_history.lookupCompleted(comparedWith(result), result.current, result.source);
        Count({MetricsEvent::Kind::LookupOk, QDateTime::currentDateTimeUtc(), result.changed,
               result.current.external, result.source});
    }
    if (result.ipv6)
        ProcessIPv6(*result.ipv6, mine);
    if (result.outcome != LookupResult::Outcome::Failed)
        m_wakeRetries = -1;
    emit lookupFinished(result);
    const bool answered6 = result.ipv6 && result.ipv6->outcome == LookupResult::Outcome::Answered;
    if ((result.answered() || answered6) && !m_lookOnly)
        Notify(result, mine);
    // After every receiver saw the lookup end; each send runs on its own from here.
    if (mine && !m_lookOnly)
        NotifyChannels(result);
    // A network change or a clock tick during the lookup gets one more, after the receivers have seen
    // this one end.
    if (std::exchange(m_lookUpAgain, false))
        QTimer::singleShot(0, this, [this] {
            if (!lookupBusy())
                Refresh();
        });
}

void AddressMonitor::RetryAfterWake()
{
    if (!m_watch || m_wakeRetries < 0 || m_wakeRetries >= m_wakeRetryDelaysMs.size())
        return;
    const int delay = m_wakeRetryDelaysMs.at(m_wakeRetries++);
    qCInfo(lcLookup) << "Looking up again in" << delay / 1000.0 << "s: the network changed a moment ago";
    QTimer::singleShot(delay, this, [this] {
        if (!lookupBusy() && m_watch)
            Refresh();
    });
}

void AddressMonitor::Count(const MetricsEvent &event)
{
    // One writer: the process that keeps the record, as for the history.
    if (m_metrics && keepsTheRecord())
        m_metrics->record(event);
}

void AddressMonitor::Notify(const LookupResult &result, bool mine)
{
    const QString command = m_options.changeCommand();
    const bool emailNotify = m_options.emailNotify();
    if (!emailNotify && command.trimmed().isEmpty())
        return;
    if (!mine) {
        // The service sees the same change: the mail, its unsent mark and the command are its own.
        if (result.changed || (emailNotify && m_backlog->pending()))
            qCInfo(lcMail).noquote() << "The address change is left to netquill-monitor, which holds"
                                     << m_notifierLock.fileName();
        return;
    }
    if (emailNotify)
        m_backlog->LookupCompleted(result.changed);
    if (!result.changed)
        return;
    // An IPv4 lookup that failed beside an IPv6 change leaves the IPv4 addresses as they were known.
    ChangeCommand::Inputs inputs{result.answered() ? result.current : m_current.addresses, result.previous,
                                 result.source};
    if (result.ipv6 && !result.ipv6->absent) {
        inputs.current6 = result.ipv6->current;
        inputs.old6 = result.ipv6->previous;
    }
    m_command->Run(command, inputs);
}

Notice AddressMonitor::noticeOf(Notice::Event event) const
{
    Notice notice;
    notice.event = event;
    notice.time = QDateTime::currentDateTimeUtc();
    static const QString host = QSysInfo::machineHostName();
    notice.hostName = host;
    // Before the first lookup, the newest addresses known are the stored ones.
    const IpSnapshot addresses = m_current.when.isValid() ? m_current.addresses : previous();
    // "0": nothing is stored yet.
    const auto known = [](const QString &address) {
        return address == QLatin1String("0") ? QStringLiteral("unknown") : address;
    };
    notice.internalNew = known(addresses.internal);
    notice.externalNew = known(addresses.external);
    notice.source = m_current.source;
    return notice;
}

void AddressMonitor::NotifyChannels(const LookupResult &result)
{
    if (result.outcome == LookupResult::Outcome::Failed) {
        // Once an outage starts, not at each failed lookup of it.
        if (!std::exchange(m_outage, true))
            m_channels->Send({noticeOf(Notice::Event::Failing)});
        return;
    }
    const bool answered6 = result.ipv6 && result.ipv6->outcome == LookupResult::Outcome::Answered;
    if (!result.answered() && !answered6)
        return;
    m_outage = false;
    const Notice alive = noticeOf(Notice::Event::Alive);
    if (!result.changed)
        return m_channels->Send({alive});
    Notice notice = alive;
    notice.event = Notice::Event::Changed;
    if (result.answered()) {
        notice.internalOld = result.previous.internal;
        notice.externalOld = result.previous.external;
        notice.internalNew = result.current.internal;
        notice.externalNew = result.current.external;
        notice.source = result.source;
        notice.confirmedBy = result.confirmedBy;
    } else {
        notice.internalOld = notice.internalNew;
        notice.externalOld = notice.externalNew;
    }
    if (answered6) {
        const LookupResult::IPv6 &v6 = *result.ipv6;
        notice.ipv6 = {v6.previous.internal, v6.current.internal, v6.previous.external, v6.current.external};
        if (!result.answered() || !(result.externalChanged || result.internalChanged))
            notice.source = v6.source;
    }
    m_channels->Send({alive, notice});
}

bool AddressMonitor::saveChannel(const QString &was, const ChannelConfig &channel,
                                 const std::optional<QString> &secret, QString *why)
{
    QList<ChannelConfig> channels = m_options.channels();
    const auto named = [&channels](const QString &name) {
        return std::find_if(channels.begin(), channels.end(),
                            [&name](const ChannelConfig &each) { return each.name == name; });
    };
    const auto fail = [why](const QString &cause) {
        if (why)
            *why = cause;
        return false;
    };
    if (channel.name != was && named(channel.name) != channels.end())
        return fail(QStringLiteral("another channel has the name ") + channel.name);
    if (was.isEmpty() && channels.size() >= ChannelList::MaxChannels)
        return fail(QStringLiteral("there are %1 channels already").arg(ChannelList::MaxChannels));
    if (const auto place = named(was); place != channels.end())
        *place = channel;
    else
        channels.append(channel);
    const auto save = [this, channel, was, channels](const QString &secretNow) {
        // The secret first: a test right after the list's change must find it. A new channel without
        // one has nothing in the keyring to remove.
        if (!was.isEmpty() || !secretNow.isEmpty())
            m_secrets->save(channel.name, secretNow);
        if (!was.isEmpty() && was != channel.name)
            m_secrets->save(was, QString());
        m_options.setChannels(channels);
    };
    const QString problem = channel.problem(secret.value_or(QStringLiteral("kept")));
    if (!problem.isEmpty() && (secret || !channel.needsSecret()))
        return fail(problem);
    if (secret)
        save(*secret);
    else
        m_secrets->whenReady(was.isEmpty() ? channel.name : was, save);
    return true;
}

void AddressMonitor::removeChannel(const QString &name)
{
    QList<ChannelConfig> channels = m_options.channels();
    channels.removeIf([&name](const ChannelConfig &each) { return each.name == name; });
    m_secrets->save(name, QString());
    m_options.setChannels(channels);
}

void AddressMonitor::setChannelPaused(const QString &name, bool paused)
{
    QList<ChannelConfig> channels = m_options.channels();
    for (ChannelConfig &each : channels)
        if (each.name == name)
            each.paused = paused;
    m_options.setChannels(channels);
}

bool AddressMonitor::TestChannel(const QString &name)
{
    return m_channels->Test(name, noticeOf(Notice::Event::Test));
}

QHash<QString, NoticeChannels::Result> AddressMonitor::channelResults() const
{
    return m_channels->results();
}

bool AddressMonitor::appriseInstalled()
{
    return !AppriseChannel::program().isEmpty();
}

void AddressMonitor::setChannelRetryDelays(const QList<int> &milliseconds)
{
    m_channels->setRetryDelays(milliseconds);
}

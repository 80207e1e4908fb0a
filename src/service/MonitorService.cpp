#include "MonitorService.h"

#include "AddressHistory.h"
#include "AddressMonitor.h"
#include "ServiceLog.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <csignal>
#include <cstdio>

MonitorService::MonitorService(SettingsStore &store, AddressMonitor &monitor, QObject *parent)
    : QObject(parent), m_store(store), m_monitor(&monitor)
{
    connect(new TerminationSignals(this), &TerminationSignals::requested, this,
            &MonitorService::EndForSignal);
    // Direct: --once asks for the cause right after waiting for the writes, before any event is handled.
    connect(
        &m_store, &SettingsStore::saveFailed, this,
        [this](const QString &reason) { m_saveFailure.set(reason); }, Qt::DirectConnection);
}

MonitorService::~MonitorService() = default;

void MonitorService::LogStatus(const QString &text)
{
    qCInfo(lcService).noquote() << text;
}

bool MonitorService::startService(int minutes)
{
    // A moment's wait: the desktop program takes the lock for an instant when it looks at it.
    if (const auto refused = m_monitor->holdRecord(2000)) {
        if (refused->elsewhere)
            qCCritical(lcService).noquote()
                << "netquill-monitor runs already for this user: it holds" << refused->lockFile;
        else
            qCCritical(lcService).noquote()
                << "Cannot make the lock file" << refused->lockFile << "-" << refused->why;
        return false;
    }
    connect(m_monitor, &AddressMonitor::statusChanged, this, &MonitorService::LogStatus);
    connect(m_monitor, &AddressMonitor::lookupFinished, this, [](const LookupResult &result) {
        if (result.answered())
            qCInfo(lcService).noquote().nospace()
                << "Internal: " << result.current.internal << ", External: " << result.current.external
                << ", answered by " << result.source << (result.changed ? ", changed" : "");
    });
    m_monitor->setRepeat(AddressMonitor::Repeat::Always, minutes);
    m_monitor->useServerPassword(true);
    m_monitor->Load();
    const int seconds = m_monitor->intervalSeconds();
    qCInfo(lcService).noquote() << QStringLiteral("Looking up every %1 min, mail on change %2")
                                       .arg(seconds / 60)
                                       .arg(m_monitor->emailNotify() ? QLatin1String("on")
                                                                     : QLatin1String("off"));
    WatchSettings();
    m_monitor->Refresh();
    return true;
}

void MonitorService::WatchSettings()
{
    m_reloadPause = new QTimer(this);
    m_reloadPause->setSingleShot(true);
    m_reloadPause->setInterval(ReloadPauseMs);
    connect(m_reloadPause, &QTimer::timeout, this, &MonitorService::ReloadSettings);
    // The folder too: a save puts a new file in place, and the watch on the old one ends with it.
    m_watcher = new QFileSystemWatcher(this);
    const QString file = m_store.fileName();
    const QString folder = QFileInfo(file).absolutePath();
    for (const QString &path : {folder, file}) {
        if (QFileInfo::exists(path) && !m_watcher->addPath(path))
            qCWarning(lcService).noquote() << "Cannot follow changes of" << path;
    }
    const auto later = [this] { m_reloadPause->start(); };
    Options &options = m_monitor->options();
    connect(&options, &Options::changed, this, [&options](const QString &key, const QString &was) {
        // A channel's URL may be as good as a password (an ntfy topic, a ping's address): names only.
        if (key == QLatin1String(SettingKeys::NoticeChannels.name)) {
            QStringList channels;
            for (const ChannelConfig &channel : options.channels())
                channels.append(channel.name + QStringLiteral(" (") + ChannelConfig::kindName(channel.kind) +
                                u')');
            qCInfo(lcService).noquote()
                << "Notice channels are now:"
                << (channels.isEmpty() ? QStringLiteral("none") : channels.join(u", "));
            return;
        }
        qCInfo(lcService).noquote().nospace()
            << "Setting " << key << " is now \"" << options.text(key) << "\" (was \"" << was << "\")";
    });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, later);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, later);
}

void MonitorService::ReloadSettings()
{
    if (m_watcher && !m_watcher->files().contains(m_store.fileName()) &&
        QFileInfo::exists(m_store.fileName()))
        m_watcher->addPath(m_store.fileName());
    // Each option that changed is logged and applied as it is told.
    m_monitor->Reload();
}

void MonitorService::startOnce()
{
    // Held for this lookup if nobody else does: a desktop program meanwhile leaves the mail to this one.
    m_monitor->holdRecord();
    connect(m_monitor, &AddressMonitor::statusChanged, this, &MonitorService::LogStatus);
    connect(m_monitor, &AddressMonitor::noticeEnded, this, [this](bool delivered) {
        m_noticeFailed = m_noticeFailed || !delivered;
        ExitOnceNoticesEnded();
    });
    // One try a channel: the run ends within each channel's time limit, and a failure fails it.
    m_monitor->setChannelRetryDelays({});
    connect(m_monitor, &AddressMonitor::channelEnded, this,
            [this](const QString &, bool delivered) { m_noticeFailed = m_noticeFailed || !delivered; });
    connect(m_monitor, &AddressMonitor::channelsIdle, this, &MonitorService::ExitOnceNoticesEnded);
    connect(m_monitor, &AddressMonitor::lookupFinished, this, [this](const LookupResult &result) {
        if (EndedWithoutAddresses(result))
            return;
        m_completed = true;
        // After the notice it started, if any, has been handed over: its end comes as noticeEnded.
        QTimer::singleShot(0, this, &MonitorService::ExitOnceNoticesEnded);
    });
    m_monitor->setRepeat(AddressMonitor::Repeat::Never);
    m_monitor->useServerPassword(true);
    m_monitor->Load();
    m_monitor->Refresh();
}

void MonitorService::startPrint(bool json)
{
    // Only the sources are read, so notification stays off; and the lookup only looks.
    m_monitor->LoadSources();
    m_monitor->setLookOnly();
    connect(m_monitor, &AddressMonitor::lookupFinished, this, [this, json](const LookupResult &result) {
        // Only a failure's status is told here; --print says nothing else on standard error.
        if (result.outcome == LookupResult::Outcome::Failed ||
            result.outcome == LookupResult::Outcome::Disagreement)
            LogStatus(result.cause);
        if (EndedWithoutAddresses(result))
            return;
        m_completed = true;
        const IpSnapshot &current = result.current;
        QByteArray out;
        // While the families are followed apart, the IPv6 track's addresses follow ("no IPv6" without one).
        const IpSnapshot six = m_monitor->current6().addresses;
        if (json) {
            QJsonObject object{
                {QStringLiteral("internal"), current.internal},
                {QStringLiteral("external"), current.external},
                {QStringLiteral("source"), result.source},
                {QStringLiteral("confirmed"), !result.confirmedBy.isEmpty()},
                {QStringLiteral("confirmedBy"), QJsonArray::fromStringList(result.confirmedBy)},
                {QStringLiteral("channels"), channelsJson()}};
            if (result.ipv6)
                object.insert(QStringLiteral("ipv6"),
                              QJsonObject{{QStringLiteral("internal"), six.internal},
                                          {QStringLiteral("external"), six.external},
                                          {QStringLiteral("source"), result.ipv6->source}});
            out = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        } else {
            out =
                "Internal: " + current.internal.toUtf8() + "\nExternal: " + current.external.toUtf8() + '\n';
            if (result.ipv6)
                out += "Internal IPv6: " + six.internal.toUtf8() +
                       "\nExternal IPv6: " + six.external.toUtf8() + '\n';
        }
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        std::fflush(stdout);
        Exit(0);
    });
    m_monitor->Refresh();
}

void MonitorService::ExitOnceNoticesEnded()
{
    if (m_completed && !m_monitor->mailBusy() && !m_monitor->channelsBusy())
        Exit(m_noticeFailed ? 1 : 0);
}

void MonitorService::startTestNotify(const QString &name)
{
    connect(m_monitor, &AddressMonitor::channelTested, this,
            [this](const QString &channel, bool delivered, const QString &cause) {
                LogStatus(delivered
                              ? QStringLiteral("Test notice delivered through ") + channel
                              : QStringLiteral("Test notice through %1 failed: %2").arg(channel, cause));
                Exit(delivered ? 0 : 1);
            });
    m_monitor->setRepeat(AddressMonitor::Repeat::Never);
    m_monitor->setLookOnly();
    m_monitor->Load();
    if (!m_monitor->TestChannel(name)) {
        QStringList names;
        for (const ChannelConfig &channel : m_monitor->channels())
            names.append(channel.name);
        LogStatus(
            QStringLiteral("No notice channel is named %1; there are: %2")
                .arg(name, names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "))));
        QTimer::singleShot(0, this, [this] { Exit(1); });
    }
}

QJsonArray MonitorService::channelsJson() const
{
    QJsonArray channels;
    const auto results = m_monitor->channelResults();
    for (const ChannelConfig &channel : m_monitor->channels()) {
        QJsonObject one{{QStringLiteral("name"), channel.name},
                        {QStringLiteral("kind"), ChannelConfig::kindName(channel.kind)},
                        {QStringLiteral("paused"), channel.paused}};
        if (const auto last = results.constFind(channel.name); last != results.cend())
            one.insert(QStringLiteral("last"),
                       QJsonObject{{QStringLiteral("time"), last->when.toString(Qt::ISODate)},
                                   {QStringLiteral("delivered"), last->delivered},
                                   {QStringLiteral("cause"), last->cause}});
        channels.append(one);
    }
    return channels;
}

bool MonitorService::EndedWithoutAddresses(const LookupResult &result)
{
    if (result.answered())
        return false;
    // A failure's status has been told; the product's page answering from elsewhere ends with none.
    if (result.outcome == LookupResult::Outcome::NoAnswer)
        LogStatus(QStringLiteral("Error: No source gave an address."));
    Exit(1);
    return true;
}

void MonitorService::EndForSignal(int signal)
{
#ifdef SIGHUP
    // The unit's reload: the settings are read again, as when the file changes.
    if (signal == SIGHUP && m_watcher) {
        qCInfo(lcService) << "Reading the settings again on SIGHUP";
        ReloadSettings();
        return;
    }
#endif
    qCInfo(lcService) << "Ending on signal" << signal;
    if (m_ending)
        return;
    if (!m_monitor->mailBusy())
        return Exit(0);
    m_ending = true;
    m_monitor->EndAfterMail([] { QCoreApplication::exit(0); });
}

void MonitorService::Exit(int code)
{
    // A lookup whose addresses did not reach the disk failed: the next run would report the change again.
    if (m_completed && !m_ending && !m_store.WaitForWrites()) {
        LogStatus(QStringLiteral("Error: ") + m_saveFailure.get());
        code = 1;
    }
    if (!m_ending && m_completed && m_monitor->commandBusy()) {
        // --once waits for the command its lookup started; one that failed fails the run.
        m_ending = true;
        connect(m_monitor, &AddressMonitor::commandFinished, this, [this, code](bool ok) {
            if (!m_monitor->commandBusy())
                QCoreApplication::exit(ok ? code : 1);
        });
        return;
    }
    m_ending = true;
    QCoreApplication::exit(code);
}

int MonitorService::printHistory(bool json)
{
    const QList<AddressHistory::Event> events = AddressHistory::read();
    const QByteArray out =
        json ? AddressHistory::json(events)
             : AddressHistory::textLines(events).join(u'\n').toUtf8() + (events.isEmpty() ? "" : "\n");
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return 0;
}

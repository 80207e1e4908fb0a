#include "AddressMonitor.h"

#include "ChangeCommand.h"
#include "ExternalIpPage.h"
#include "IpSourceList.h"
#include "LookupCycle.h"
#include "MailPassword.h"
#include "Module6464.h"
#include "NotificationBacklog.h"
#include "PageFetcher.h"
#include "SettingsStore.h"
#include "SmtpMessage.h"
#include "SmtpSession.h"
#include "Winsock.h"
#include "modIdentity.h"

#include <netquill/BuildIdentity.h>

#include <QTimer>

AddressMonitor::AddressMonitor(SettingsStore &store, QObject *parent)
    : QObject(parent), m_store(store), m_fetcher(new PageFetcher(this)),
      m_lookup(new LookupCycle(store, m_fetcher, ExternalIpPage::url(), &Winsock::LocalIP, this)),
      m_clock(new QTimer(this)),
      m_password(new MailPassword(QString::fromUtf8(BuildIdentity::ProductName), this)),
      m_mailSocket(new Winsock(this)), m_command(new ChangeCommand(this))
{
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &AddressMonitor::Tick);

    connect(m_lookup, &LookupCycle::statusChanged, this, &AddressMonitor::statusChanged);
    connect(m_lookup, &LookupCycle::answeredBy, this, [this](const IpSource &source) {
        m_answeredBy = source.displayName();
        emit answeredBy(source);
    });
    connect(m_lookup, &LookupCycle::addressesShown, this, &AddressMonitor::OnAddressesShown);
    connect(m_lookup, &LookupCycle::lookupCompleted, this, &AddressMonitor::OnLookupCompleted);
    connect(m_command, &ChangeCommand::statusChanged, this, &AddressMonitor::statusChanged);

    // The message carries the addresses of the last lookup, as shown.
    m_session = new SmtpSession(
        m_mailSocket, m_mail,
        [this] {
            const ProductIdentity &identity = modIdentity::Identity();
            return SmtpMessageInputs{identity.strProgramName, identity.strCompany, identity.strWebsite,
                                     m_current.addresses.external, m_current.addresses.internal};
        },
        this);
    connect(m_session, &SmtpSession::statusChanged, this, &AddressMonitor::statusChanged);
    // Connected before the session's own handler, which logs in with what this has copied.
    connect(m_password, &MailPassword::loaded, this,
            [this](const QString &password) { m_mail.strPassword = password; });
    m_session->setPasswordKeeper(m_password);
    m_backlog = new NotificationBacklog(
        m_store, m_session, [this] { SendMail(); }, this);
}

AddressMonitor::~AddressMonitor() = default;

std::optional<int> AddressMonitor::storedNumber(const QString &text, int low, int high)
{
    const std::optional<int> value = SettingsStore::toWholeNumber(text);
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

void AddressMonitor::Load()
{
    modIdentity::LoadProductIdentity();
    Module6464::LoadMailSettings(m_store, m_mail);
    // Read ahead, so that the first notification does not wait for the keyring.
    if (!m_mail.strUser.isEmpty())
        m_password->Load();
    // Only 0 and 1 are states the program writes; anything else is read as the default, off, and
    // left in the file as it is.
    const auto flag = [this](const SettingKeys::Key &key) {
        return SettingsStore::toWholeNumber(m_store.GetSetting(key)) == 1;
    };
    m_autoRefresh = flag(SettingKeys::Refresh);
    m_runAtStartup = flag(SettingKeys::Startup);
    m_emailNotify = flag(SettingKeys::EmailNotify);
    m_desktopNotify = flag(SettingKeys::NotifyDesktop);
    // A stored position the list cannot take counts as the default, the first item.
    m_refreshPosition = storedNumber(m_store.GetSetting(SettingKeys::RefreshRate), -1, 4).value_or(0);
    m_lookup->LoadPrevious();
    m_stored = m_lookup->previous();
    LoadSources();

    m_schedule.resetCount();
    m_schedule.applyInterval(m_refreshPosition);
    if (m_autoRefresh)
        m_clock->start();
    else
        m_clock->stop();
}

void AddressMonitor::Refresh()
{
    m_lookup->Refresh();
}

void AddressMonitor::Tick()
{
    if (m_schedule.tick())
        Refresh();
}

void AddressMonitor::SaveFlag(const char *key, bool on)
{
    m_store.SaveSetting(QString::fromLatin1(key), QString::number(int(on)));
}

void AddressMonitor::setAutoRefresh(bool on)
{
    m_autoRefresh = on;
    m_schedule.resetCount();
    if (on)
        m_clock->start();
    else
        m_clock->stop();
    m_schedule.applyInterval(m_refreshPosition);
    SaveFlag(SettingKeys::Refresh.name, on);
    emit optionsChanged();
}

void AddressMonitor::setRefreshPosition(int position)
{
    m_refreshPosition = position;
    m_store.SaveSetting(SettingKeys::RefreshRate, QString::number(position));
    m_schedule.applyInterval(position);
    emit optionsChanged();
}

void AddressMonitor::setEmailNotify(bool on)
{
    m_emailNotify = on;
    SaveFlag(SettingKeys::EmailNotify.name, on);
    emit optionsChanged();
}

void AddressMonitor::setDesktopNotify(bool on)
{
    m_desktopNotify = on;
    SaveFlag(SettingKeys::NotifyDesktop.name, on);
    emit optionsChanged();
}

void AddressMonitor::setRunAtStartup(bool on)
{
    m_runAtStartup = on;
    SaveFlag(SettingKeys::Startup.name, on);
    emit optionsChanged();
}

void AddressMonitor::LoadSources()
{
    m_lookup->setSources(IpSourceList::read(m_store.GetSetting(SettingKeys::IpSources)));
}

IpSnapshot AddressMonitor::previous() const
{
    return m_lookup->previous();
}

void AddressMonitor::SendMail()
{
    m_session->Send();
}

void AddressMonitor::OnAddressesShown(const IpSnapshot &current)
{
    m_current = {current, m_answeredBy, QDateTime::currentDateTimeUtc()};
    emit addressesShown(current);
}

void AddressMonitor::OnLookupCompleted(const IpSnapshot &current, bool changed)
{
    emit lookupCompleted(current, changed);
    if (m_emailNotify)
        m_backlog->LookupCompleted(changed);
    const IpSnapshot old = std::exchange(m_stored, current);
    if (changed)
        m_command->Run(m_store.GetSetting(SettingKeys::ChangeCommand), {current, old, m_current.source});
}

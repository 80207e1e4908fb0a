#include "NotificationBacklog.h"

#include "SettingsStore.h"
#include "SmtpSession.h"

NotificationBacklog::NotificationBacklog(SettingsStore &store, SmtpSession *session,
                                         std::function<void()> send, QObject *parent)
    : QObject(parent), m_store(store), m_session(session), m_send(std::move(send))
{
    connect(session, &SmtpSession::finished, this, &NotificationBacklog::SessionFinished);
}

bool NotificationBacklog::pending() const
{
    return SettingsStore::toWholeNumber(m_store.GetSetting(SettingKeys::NotifyPending)) == 1;
}

void NotificationBacklog::LookupCompleted(bool changed)
{
    if (!changed && !pending())
        return;
    MarkPending(true);
    const bool wasIdle = m_session->state() == SmtpSession::State::Idle;
    m_send();
    // A send refused because another session runs leaves the mark for the next lookup.
    if (wasIdle && m_session->state() != SmtpSession::State::Idle)
        m_ownsSession = true;
}

void NotificationBacklog::SessionFinished(bool sent)
{
    if (m_ownsSession && sent)
        MarkPending(false);
    m_ownsSession = false;
}

void NotificationBacklog::MarkPending(bool pending)
{
    if (this->pending() != pending)
        m_store.SaveSetting(SettingKeys::NotifyPending, QLatin1String(pending ? "1" : "0"));
}

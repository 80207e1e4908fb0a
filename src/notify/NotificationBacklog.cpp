#include "NotificationBacklog.h"

#include "MailLog.h"
#include "MailSender.h"
#include "SettingsStore.h"

#include <utility>

NotificationBacklog::NotificationBacklog(SettingsStore &store, MailSender *session,
                                         std::function<bool()> send, QObject *parent)
    : QObject(parent), m_store(store), m_session(session), m_send(std::move(send))
{
    connect(session, &MailSender::finished, this, &NotificationBacklog::SessionFinished);
}

bool NotificationBacklog::pending() const
{
    return SettingKeys::flag(m_store.GetSetting(SettingKeys::NotifyPending));
}

void NotificationBacklog::LookupCompleted(bool changed)
{
    // A session that has just ended on the mail thread has its end seen first, so that a notice it
    // delivered is not sent again.
    m_session->Synchronize();
    if (!changed && !pending())
        return;
    MarkPending(true);
    // The one save that waits for the disk, and only when a notice is due: the session must start
    // here, before the lookup reports its end (whose status has the last word), yet the mark has to
    // be on the disk first, or a crash during the session would forget the change just saved.
    if (!m_store.WaitForWrites())
        qCWarning(lcMail) << "The address-change notification is sent without its unsent mark on the disk";
    // A send refused because another session runs leaves the mark for the next lookup. The end of a
    // session that finished meanwhile is delivered during the send, before this one is taken on.
    if (m_send()) {
        m_ownsSession = true;
    } else {
        qCInfo(lcMail) << "The address-change notification was not started; it is kept for the next lookup";
        emit ended(false);
    }
}

void NotificationBacklog::SessionFinished(bool sent)
{
    if (!std::exchange(m_ownsSession, false))
        return;
    if (sent) {
        MarkPending(false);
    } else {
        // Set again: the end of an earlier session, seen late, may have cleared the mark of this one.
        MarkPending(true);
        qCWarning(lcMail)
            << "The address-change notification was not delivered; it is kept for the next lookup";
    }
    emit ended(sent);
}

void NotificationBacklog::MarkPending(bool pending)
{
    if (this->pending() != pending)
        m_store.SaveSetting(SettingKeys::NotifyPending, SettingKeys::flagText(pending));
}

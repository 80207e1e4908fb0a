#include "NotificationBacklog.h"

#include "MailLog.h"
#include "SettingsStore.h"

#include <utility>

NotificationBacklog::NotificationBacklog(SettingsStore &store, std::function<quint64()> send, QObject *parent)
    : QObject(parent), m_store(store), m_send(std::move(send))
{
}

bool NotificationBacklog::pending() const
{
    return SettingKeys::flag(m_store.GetSetting(SettingKeys::NotifyPending));
}

void NotificationBacklog::LookupCompleted(bool changed)
{
    if (!changed && !pending())
        return;
    // A notice still under way may yet deliver what is marked: sending it again now could mail it twice.
    // A new change is sent all the same, since it carries addresses the one under way does not.
    if (!changed && !m_unfinished.isEmpty())
        return;
    MarkPending(true);
    // The one save that waits for the disk, and only when a notice is due: the mark has to be on the
    // disk before the session starts, or a crash during the session would forget the change just saved.
    if (!m_store.WaitForWrites())
        qCWarning(lcMail) << "The address-change notification is sent without its unsent mark on the disk";
    const quint64 job = m_send();
    if (job == 0) {
        qCInfo(lcMail) << "The address-change notification was not started; it is kept for the next lookup";
        emit ended(false);
        return;
    }
    m_unfinished.insert(job);
    m_newest = job;
}

void NotificationBacklog::SendFinished(const MailResult &result)
{
    if (!m_unfinished.remove(result.job))
        return;
    // An older notice's end says nothing about the newer addresses.
    if (result.job != m_newest)
        return;
    if (result.sent) {
        MarkPending(false);
    } else {
        MarkPending(true);
        qCWarning(lcMail).noquote() << "The address-change notification was not"
                                    << (result.started ? "delivered" : "started")
                                    << "; it is kept for the next lookup:" << result.status;
    }
    emit ended(result.sent);
}

void NotificationBacklog::MarkPending(bool pending)
{
    if (this->pending() != pending)
        m_store.SaveSetting(SettingKeys::NotifyPending, SettingKeys::flagText(pending));
}

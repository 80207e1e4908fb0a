#pragma once

#include <QObject>
#include <functional>

class SettingsStore;
class MailSender;

/// Keeps an address-change notification that could not be delivered from being forgotten. Before a
/// notification goes out it is marked unsent in the store (on the disk before the session starts, so a
/// failure, a crash or a restart keeps it), and the mark is cleared only when that session shows "Message
/// Sent". While marked, the next successful lookup sends again with the addresses of that moment. Sessions
/// this class did not start (a test message) leave the mark alone.
class NotificationBacklog : public QObject {
    Q_OBJECT
public:
    /// send starts a session on the session given and says whether it did; it may refuse, as when one
    /// is already running.
    NotificationBacklog(SettingsStore &store, MailSender *session, std::function<bool()> send,
                        QObject *parent = nullptr);

    /// After a successful lookup with notification switched on.
    void LookupCompleted(bool changed);
    bool pending() const;

signals:
    /// A notice this class started was delivered (true), failed, or could not be started (false).
    void ended(bool delivered);

private:
    void SessionFinished(bool sent);
    void MarkPending(bool pending);

    SettingsStore &m_store;
    MailSender *m_session;
    std::function<bool()> m_send;
    bool m_ownsSession = false; // the running session is one this class started
};

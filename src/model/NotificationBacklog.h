#pragma once

#include "MailSettings.h"

#include <QObject>
#include <QSet>
#include <functional>

class SettingsStore;

/// Keeps an address-change notification that could not be delivered from being forgotten. Before a
/// notification goes out it is marked unsent in the store (on the disk before the session starts, so a
/// failure, a crash or a restart keeps it), and the mark is cleared only when the newest notice asked
/// for shows "Message Sent". While marked, the next successful lookup sends again with the addresses of
/// that moment. Sessions this class did not start (a test message) leave the mark alone.
class NotificationBacklog : public QObject {
    Q_OBJECT
public:
    /// send starts a send operation and gives its job number, or 0 when it was refused before one.
    NotificationBacklog(SettingsStore &store, std::function<quint64()> send, QObject *parent = nullptr);

    /// After a successful lookup with notification switched on.
    void LookupCompleted(bool changed);
    /// Every send operation's result, this class's own or not.
    void SendFinished(const MailResult &result);
    bool pending() const;

signals:
    /// The newest notice this class asked for was delivered (true), failed, or could not be started
    /// (false).
    void ended(bool delivered);

private:
    void MarkPending(bool pending);

    SettingsStore &m_store;
    std::function<quint64()> m_send;
    QSet<quint64> m_unfinished; // notices handed over, their results not in yet
    quint64 m_newest = 0;       // the notice that carries the newest addresses
};

#pragma once

#include "SmtpSession.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <functional>
#include <limits>

class MailPassword;
class QThread;

/// The notification's SMTP session on a thread of its own, so that windows busy laying out or
/// painting cannot hold up the dialogue with the server. Used from the thread that made it: Send
/// hands the send operation over and returns at once, and the session's status texts, states and
/// ends reach this thread in the order the session raised them, those raised by the send operation
/// itself before Send returns. The thread starts with the first Send.
class MailSender : public QObject {
    Q_OBJECT
public:
    /// settings and inputs are called on the mail thread, at each step that needs them.
    MailSender(std::function<MailSettings()> settings, std::function<SmtpMessageInputs()> inputs,
               QObject *parent = nullptr);
    /// Ends the thread; a session still running ends with it, unreported.
    ~MailSender() override;

    /// True when the send operation started a session: one was not running and this one got as far as
    /// connecting.
    bool Send();
    /// Delivers what the mail thread has raised so far, so that state() is as the session's own.
    void Synchronize();
    /// As SmtpSession::setPasswordKeeper; the keeper stays on its own thread.
    void setPasswordKeeper(MailPassword *keeper);
    /// The session's state as the changes delivered so far left it: once it is Idle, no finished is
    /// still to come.
    SmtpSession::State state() const { return m_state; }

signals:
    void statusChanged(const QString &text);
    void stateChanged(SmtpSession::State state);
    void finished(bool sent);

private:
    void Start();
    /// On the mail thread: queues what the session raised for this thread.
    void Post(std::function<void()> event);
    /// On the mail thread: how many events wait for this thread.
    qsizetype Raised();
    /// Delivers the first count events waiting, or all of them.
    void Deliver(qsizetype count = std::numeric_limits<qsizetype>::max());

    std::function<MailSettings()> m_settings;
    std::function<SmtpMessageInputs()> m_inputs;
    MailPassword *m_keeper = nullptr;
    QThread *m_thread = nullptr;
    SmtpSession *m_session = nullptr; // lives on m_thread, with its socket (Winsock2)
    SmtpSession::State m_state = SmtpSession::State::Idle;
    QMutex m_mutex;
    QList<std::function<void()>> m_events; // raised on the mail thread, not delivered yet
};

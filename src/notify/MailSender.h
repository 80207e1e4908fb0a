#pragma once

#include "SmtpSession.h"

#include <QObject>
#include <QSet>

class QThread;

/// The notification's SMTP session on a thread of its own, so that windows busy laying out or
/// painting cannot hold up the dialogue with the server. Used from the thread that made it; nothing
/// is shared with the mail thread but queued calls and signals: the settings and message go over as
/// values whenever they change, and the session's status texts and each result come back in the order
/// the session raised them. The send operation's first part, which needs only the settings, runs here:
/// its status texts are out before Send returns, as with a session on this thread. The mail thread
/// starts with the first Send.
class MailSender : public QObject {
    Q_OBJECT
public:
    explicit MailSender(QObject *parent = nullptr);
    /// Ends the thread; a session still running ends with it, unreported.
    ~MailSender() override;

    /// What the session reads from its next step on.
    void setSettings(const MailSettings &settings);
    void setInputs(const SmtpMessageInputs &inputs);
    /// Tick length of the session's time-out clock, for tests.
    void setTickInterval(int milliseconds);

    /// The send operation: shows its first status texts, hands the rest to the mail thread and returns
    /// its job number; one finished with that number follows.
    quint64 Send();
    /// A send operation has started a session whose result has not arrived yet.
    bool busy() const { return !m_unfinished.isEmpty(); }

signals:
    void statusChanged(const QString &text);
    void finished(const MailResult &result);

private:
    void Start();

    MailSettings m_settings;    // as last handed over; the first part of Send reads it here
    SmtpMessageInputs m_inputs; // for the session the first Send makes
    int m_tickMs = 1000;
    QThread *m_thread = nullptr;
    SmtpSession *m_session = nullptr; // lives on m_thread, with its socket (Winsock2)
    quint64 m_lastJob = 0;
    QSet<quint64> m_unfinished; // jobs whose session runs
    bool m_connected = false;   // a session holds the connection, as far as this thread has heard
};

#pragma once

#include "SmtpSession.h"

#include <QObject>

class QThread;

/// The notification's SMTP session on a thread of its own, so that windows busy laying out or
/// painting cannot hold up the dialogue with the server. Used from the thread that made it; nothing
/// is shared with the mail thread but queued calls and signals: the settings and message go over as
/// values whenever they change, and the session's status texts, the end of each send operation and
/// each result come back in the order the session raised them. The thread starts with the first Send.
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

    /// Hands a send operation to the mail thread and returns its job number at once; sendReturned and
    /// one finished with that number follow.
    quint64 Send();
    /// Send operations handed over whose result has not arrived yet.
    bool busy() const { return m_unfinished > 0; }

signals:
    void statusChanged(const QString &text);
    void sendReturned(quint64 job, bool started);
    void finished(const MailResult &result);

private:
    void Start();

    MailSettings m_settings;    // for the session the first Send makes
    SmtpMessageInputs m_inputs; // likewise
    int m_tickMs = 1000;
    QThread *m_thread = nullptr;
    SmtpSession *m_session = nullptr; // lives on m_thread, with its socket (Winsock2)
    quint64 m_lastJob = 0;
    int m_unfinished = 0;
};

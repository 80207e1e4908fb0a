#pragma once

#include "MailSettings.h"

#include <QObject>
#include <QString>
#include <QStringList>

class Winsock;
class QTimer;

/// What the notification message needs besides the mail settings, read at the moment each step runs.
struct SmtpMessageInputs {
    QString programName;
    QString company;
    QString website;
    QString externalAddress; // as the external-address label shows it
    QString internalAddress; // as the internal-address label shows it
};

/// The SMTP client session that sends the address-change notification, driven as a state machine
/// on socket events and a tick timer. Status texts are reported through statusChanged, and the end of
/// every session that got as far as connecting through finished.
///
/// With security "None" and no user name the dialogue is plain HELO. Otherwise it uses EHLO, secures the
/// connection (STARTTLS, or TLS from the first byte) and, with a user name, logs in with PLAIN or
/// LOGIN; credentials are only ever sent over an encrypted connection.
///
/// The mail settings and the message inputs are values the owner hands over whenever they change; each
/// step reads them as they are then, so edits made while a session runs reach the commands not yet
/// sent.
class SmtpSession : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Connecting,
        AwaitGreeting,
        AwaitHelo,
        AwaitEhlo,
        AwaitStartTls,
        Securing,
        AwaitPassword,   // the login waits for the keyring to give the password
        AwaitLoginReady, // AUTH LOGIN sent: the server asks for the user name
        AwaitUserTaken,  // the user name sent: the server asks for the password
        AwaitLoggedIn,
        AwaitMailFrom,
        AwaitRcptTo,
        AwaitDataGo,
        AwaitAccepted
    };
    Q_ENUM(State)

    /// Ticks without progress after which the attempt or wait is given up.
    static constexpr int TimeoutTicks = 30;
    /// Most text kept while waiting for the end of a reply; a server sending more is dropped.
    static constexpr qsizetype ReplyLimit = 64 * 1024;

    /// How the connection is secured, from the security setting; Unknown for text that names none.
    enum class Security { None, StartTls, Tls, Unknown };
    static Security ParseSecurity(const QString &text);

    explicit SmtpSession(Winsock *socket, MailSettings settings = {}, SmtpMessageInputs inputs = {},
                         QObject *parent = nullptr);

    /// What the send operation shows at once, in order, from the settings alone and whether a session
    /// runs, and how it goes on: refused; refused because a session runs (which starts its count
    /// again); a port no connection can be asked on (the attempt waits for its time-out); or connect.
    struct Opening {
        enum class Step { Refused, Busy, NoConnection, Connect };
        Step step = Step::Refused;
        QStringList statuses;
    };
    static Opening Open(const MailSettings &settings, bool sessionRunning);

    /// The send operation: validates the settings, requests the connection and returns at once. job
    /// names the operation in its MailResult.
    void Send(quint64 job = 0);
    /// The send operation after Open's statuses were shown elsewhere (the session's owner, on its own
    /// thread): the time-out clock, and the connection asked for.
    void Continue(quint64 job, Opening::Step step);
    /// What later steps read. A login waiting for the password goes on once it is known.
    void setSettings(const MailSettings &settings);
    void setInputs(const SmtpMessageInputs &inputs) { m_inputs = inputs; }
    const MailSettings &settings() const { return m_settings; }
    /// Tick length of the time-out clock; 1000 ms unless a test shortens it.
    void setTickInterval(int milliseconds);

    State state() const { return m_state; }
    int ticks() const { return m_lngTicks; }
    bool timerActive() const;
    /// Received text not yet taken as a reply; it outlives a session that ends at a time-out.
    QString pendingReply() const { return m_strReply; }

signals:
    void statusChanged(const QString &text);
    void stateChanged(SmtpSession::State state);
    /// A session is about to show its last status text: the connection is free from here on.
    void released(quint64 job);
    /// An operation ended: at once when it started no session, else when its session ends, after
    /// its last status text.
    void ended(const MailResult &result);

private:
    void Winsock2_Connect();
    void Winsock2_DataArrival();
    void Winsock2_Secured();
    void Winsock2_SecureFailed(const QString &reason);
    void Timer1_Timer();

    void TakeReply();
    void Advance(const QString &reply);
    void SendCommand(const QString &line, State next);
    void SendMailFrom();
    void LogIn();
    /// Shows the status, logs it (or the cause given) and ends the session.
    void Fail(const QString &status, const QString &cause = {});
    /// The server and port as the log names them.
    QString Server() const;
    /// Shows the last status text and ends the session (closing the connection before the text, or
    /// after it), with its result.
    void Finish(const QString &status, bool sent = false, bool closeFirst = false);
    void EndMailSession();

    void StartTimer();
    void SetStatus(const QString &text);
    void SetState(State state);

    Winsock *m_socket;
    MailSettings m_settings;
    SmtpMessageInputs m_inputs;
    QTimer *m_timer; // Timer1
    State m_state = State::Idle;

    QString m_strReply;
    bool m_blnReplyReady = false;
    qint32 m_lngTicks = 0;
    QString m_body;
    QStringList m_mechanisms;             // the login methods the server offered
    quint64 m_job = 0;                    // the operation whose session runs
    QString m_lastStatus;                 // what the operation under way showed last
    Security m_security = Security::None; // taken when the session starts: a connection keeps its kind
    // Held from a successful Connect until the session ends: a socket whose connection was refused or
    // dropped still belongs to the running attempt until the time-out releases it.
    bool m_socketInUse = false;
};

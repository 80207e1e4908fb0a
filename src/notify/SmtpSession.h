#pragma once

#include "MailSettings.h"

#include <QObject>
#include <QString>
#include <functional>

class MailPassword;
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
/// The mail settings and the message inputs are read when each step uses them, so edits made while a
/// session runs reach the commands not yet sent.
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

    /// settings is read at each step; a session on another thread than its editor reads a SharedMailSettings.
    SmtpSession(Winsock *socket, std::function<MailSettings()> settings,
                std::function<SmtpMessageInputs()> inputs, QObject *parent = nullptr);
    /// Reads settings directly, for a session on the thread that edits them.
    SmtpSession(Winsock *socket, const MailSettings &settings, std::function<SmtpMessageInputs()> inputs,
                QObject *parent = nullptr);

    /// The send operation: validates the settings, requests the connection and returns at once.
    void Send();
    /// The keyring the password is read from, which the owner copies into the settings once loaded; a
    /// login waits for that read instead of sending an empty password.
    void setPasswordKeeper(MailPassword *keeper);
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
    /// A session ended: sent is true once "Message Sent" has been shown.
    void finished(bool sent);

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
    /// A send refused before connecting: shown and logged.
    void Refuse(const QString &status);
    /// The server and port as the log names them.
    QString Server() const;
    void EndMailSession(bool sent = false);

    void StartTimer();
    void SetStatus(const QString &text);
    void SetState(State state);

    Winsock *m_socket;
    std::function<MailSettings()> m_settings;
    std::function<SmtpMessageInputs()> m_inputs;
    QTimer *m_timer; // Timer1
    State m_state = State::Idle;

    QString m_strReply;
    bool m_blnReplyReady = false;
    qint32 m_lngTicks = 0;
    QString m_body;
    QStringList m_mechanisms; // the login methods the server offered
    MailPassword *m_keeper = nullptr;
    Security m_security = Security::None; // taken when the session starts: a connection keeps its kind
    // Held from a successful Connect until the session ends: a socket whose connection was refused or
    // dropped still belongs to the running attempt until the time-out releases it.
    bool m_socketInUse = false;
};

#pragma once

#include "MailSettings.h"

#include <QObject>
#include <QString>
#include <functional>

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
/// on socket events and a tick timer. Status texts are reported through statusChanged.
class SmtpSession : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Connecting, AwaitGreeting, AwaitHelo, AwaitMailFrom, AwaitRcptTo, AwaitDataGo, AwaitAccepted };
    Q_ENUM(State)

    SmtpSession(Winsock *socket, const MailSettings &settings, std::function<SmtpMessageInputs()> inputs,
                QObject *parent = nullptr);

    /// The send operation: validates the settings, requests the connection and returns at once.
    void Send();
    /// Tick length of the time-out clock; 1000 ms unless a test shortens it.
    void setTickInterval(int milliseconds);

    State state() const { return m_state; }

signals:
    void statusChanged(const QString &text);
    void stateChanged(SmtpSession::State state);

private:
    Winsock *m_socket;
    const MailSettings &m_settings;
    std::function<SmtpMessageInputs()> m_inputs;
    QTimer *m_timer; // Timer1
    State m_state = State::Idle;
};

#include "SmtpSession.h"

#include "SmtpMessage.h"
#include "SmtpReply.h"
#include "Winsock.h"

#include <QTimer>

namespace {
const QString CrLf = QStringLiteral("\r\n");

int ExpectedCode(SmtpSession::State state)
{
    switch (state) {
    case SmtpSession::State::AwaitGreeting:
        return 220;
    case SmtpSession::State::AwaitDataGo:
        return 354;
    default:
        return 250;
    }
}

QString SenderProblem()
{
    return QStringLiteral("Error: The sender address contains a line break or control character.");
}
QString RecipientProblem()
{
    return QStringLiteral("Error: The recipient address contains a line break or control character.");
}
} // namespace

SmtpSession::SmtpSession(Winsock *socket, const MailSettings &settings,
                         std::function<SmtpMessageInputs()> inputs, QObject *parent)
    : QObject(parent), m_socket(socket), m_settings(settings), m_inputs(std::move(inputs)),
      m_timer(new QTimer(this))
{
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SmtpSession::Timer1_Timer);
    connect(m_socket, &Winsock::Connected, this, &SmtpSession::Winsock2_Connect);
    connect(m_socket, &Winsock::DataArrival, this, &SmtpSession::Winsock2_DataArrival);
}

void SmtpSession::setTickInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

bool SmtpSession::timerActive() const
{
    return m_timer->isActive();
}

void SmtpSession::Send()
{
    if (m_settings.strServer.isEmpty()) {
        SetStatus(QStringLiteral("Error: Please Choose a Server First"));
        return;
    }
    if (m_settings.strPort.isEmpty()) {
        SetStatus(QStringLiteral("Error: Please enter an Server Port (Default: 25)"));
        return;
    }
    if (m_settings.strEmailTo.isEmpty()) {
        SetStatus(QStringLiteral("Error: Please enter an Email Address"));
        return;
    }
    // Addresses go into command lines verbatim; a line break in one would let it issue commands of its own.
    if (SmtpMessage::HasControlCharacter(m_settings.strEmailTo)) {
        SetStatus(RecipientProblem());
        return;
    }
    if (SmtpMessage::HasControlCharacter(m_settings.strEmailFrom)) {
        SetStatus(SenderProblem());
        return;
    }

    SetStatus(QStringLiteral("Connecting..."));
    m_lngTicks = 0;
    StartTimer();
    const int port = SmtpReply::LeadingNumber(m_settings.strPort);
    if (m_socketInUse || !m_socket->Connect(m_settings.strServer, port)) {
        SetStatus(QStringLiteral("Error: Server or connection not available."));
        // A running session carries on; otherwise the timer still closes this attempt.
        if (m_state == State::Idle)
            SetState(State::Connecting);
        return;
    }
    m_socketInUse = true;
    SetState(State::Connecting);
}

void SmtpSession::Winsock2_Connect()
{
    if (m_state != State::Connecting)
        return;
    m_body = SmtpMessage::Body(m_inputs());
    SetStatus(QStringLiteral("Connected"));
    // The timer keeps counting from the send operation: the greeting must come within the same 30 ticks.
    SetState(State::AwaitGreeting);
    if (m_blnReplyReady)
        TakeReply();
}

void SmtpSession::Winsock2_DataArrival()
{
    m_strReply += m_socket->GetData();
    if (SmtpReply::EndsWithLineEnd(m_strReply)) {
        m_blnReplyReady = true;
    } else if (m_strReply.size() > ReplyLimit) {
        m_strReply.clear();
        m_blnReplyReady = false;
        if (m_state != State::Idle) {
            m_timer->stop();
            Fail(QStringLiteral("Error: The server sent more than 64 KiB without a line end."));
        }
        return;
    }
    if (m_blnReplyReady && m_state >= State::AwaitGreeting)
        TakeReply();
}

void SmtpSession::Timer1_Timer()
{
    SetStatus(QStringLiteral("Connecting... (%1)").arg(m_lngTicks));
    ++m_lngTicks;
    if (m_lngTicks == TimeoutTicks) {
        EndMailSession();
        SetStatus(QLatin1String("Error: Could not connect to ") + m_settings.strServer +
                  QLatin1String(" - timed out"));
        m_timer->stop();
    }
}

void SmtpSession::TakeReply()
{
    m_timer->stop();
    const QString reply = m_strReply;
    m_strReply.clear();
    m_blnReplyReady = false;
    Advance(reply);
}

void SmtpSession::Advance(const QString &reply)
{
    if (SmtpReply::Code(reply) != ExpectedCode(m_state)) {
        Fail(QLatin1String("Error: ") + reply);
        return;
    }
    switch (m_state) {
    case State::AwaitGreeting:
        SetStatus(QStringLiteral("Receiving Welcome Message"));
        SendCommand(QLatin1String("HELO ") + Winsock::LocalHostName() + CrLf, State::AwaitHelo);
        break;
    case State::AwaitHelo:
        if (SmtpMessage::HasControlCharacter(m_settings.strEmailFrom))
            return Fail(SenderProblem());
        SendCommand(QLatin1String("MAIL FROM:<") + m_settings.strEmailFrom + QLatin1String(">") + CrLf,
                    State::AwaitMailFrom);
        break;
    case State::AwaitMailFrom:
        if (SmtpMessage::HasControlCharacter(m_settings.strEmailTo))
            return Fail(RecipientProblem());
        SendCommand(QLatin1String("RCPT TO:<") + m_settings.strEmailTo + QLatin1String(">") + CrLf,
                    State::AwaitRcptTo);
        break;
    case State::AwaitRcptTo:
        SendCommand(QStringLiteral("DATA\r\n"), State::AwaitDataGo);
        break;
    case State::AwaitDataGo: {
        // The header carries both addresses; either may have been edited since its command went out.
        if (SmtpMessage::HasControlCharacter(m_settings.strEmailTo))
            return Fail(RecipientProblem());
        if (SmtpMessage::HasControlCharacter(m_settings.strEmailFrom))
            return Fail(SenderProblem());
        SetStatus(QStringLiteral("Sending Mail . . ."));
        const QString header =
            SmtpMessage::Header(m_settings.strEmailFrom, m_settings.strEmailTo, m_inputs().programName);
        m_socket->SendData(SmtpMessage::ToTransparentText(header + m_body));
        m_socket->SendData(QLatin1String(SmtpMessage::Terminator));
        m_lngTicks = 0;
        StartTimer();
        SetState(State::AwaitAccepted);
        break;
    }
    case State::AwaitAccepted:
        // The reply to QUIT is of no interest: the message is already accepted.
        m_socket->SendData(QStringLiteral("QUIT\r\n"));
        SetStatus(QStringLiteral("Message Sent"));
        EndMailSession();
        break;
    case State::Idle:
    case State::Connecting:
        break;
    }
}

void SmtpSession::SendCommand(const QString &line, State next)
{
    m_socket->SendData(line);
    m_lngTicks = 0;
    StartTimer();
    SetState(next);
}

void SmtpSession::Fail(const QString &status)
{
    SetStatus(status);
    EndMailSession();
}

void SmtpSession::EndMailSession()
{
    m_socket->Close();
    m_socketInUse = false;
    SetState(State::Idle);
}

void SmtpSession::StartTimer()
{
    // Switching on a running timer leaves its phase alone, as a second send during a wait does.
    if (!m_timer->isActive())
        m_timer->start();
}

void SmtpSession::SetStatus(const QString &text)
{
    emit statusChanged(text);
}

void SmtpSession::SetState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

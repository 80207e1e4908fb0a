#include "SmtpSession.h"

#include "MailLog.h"
#include "SmtpMessage.h"
#include "SmtpReply.h"
#include "Winsock.h"

#include <QTimer>
#include <algorithm>

namespace {
const QString CrLf = QStringLiteral("\r\n");

int ExpectedCode(SmtpSession::State state)
{
    switch (state) {
    case SmtpSession::State::AwaitGreeting:
    case SmtpSession::State::AwaitStartTls:
        return 220;
    case SmtpSession::State::AwaitDataGo:
        return 354;
    case SmtpSession::State::AwaitLoginReady:
    case SmtpSession::State::AwaitUserTaken:
        return 334;
    case SmtpSession::State::AwaitLoggedIn:
        return 235;
    default:
        return 250;
    }
}

QString Base64(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

// A server's or a user's text for a log line: short, on one line, its control characters escaped.
QString Brief(const QString &text)
{
    constexpr qsizetype Shown = 300;
    QString shown;
    for (const QChar c : QStringView(text).first(std::min(text.size(), Shown))) {
        if (c == u'\r')
            shown += QLatin1String("\\r");
        else if (c == u'\n')
            shown += QLatin1String("\\n");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return text.size() <= Shown ? shown : shown + QStringLiteral("...");
}

QString Step(SmtpSession::State state)
{
    switch (state) {
    case SmtpSession::State::Idle:
    case SmtpSession::State::Connecting:
        return QStringLiteral("connecting");
    case SmtpSession::State::AwaitGreeting:
        return QStringLiteral("waiting for the greeting");
    case SmtpSession::State::AwaitHelo:
    case SmtpSession::State::AwaitEhlo:
        return QStringLiteral("introducing itself");
    case SmtpSession::State::AwaitStartTls:
    case SmtpSession::State::Securing:
        return QStringLiteral("securing the connection");
    case SmtpSession::State::AwaitPassword:
        return QStringLiteral("reading the password from the keyring");
    case SmtpSession::State::AwaitLoginReady:
    case SmtpSession::State::AwaitUserTaken:
    case SmtpSession::State::AwaitLoggedIn:
        return QStringLiteral("logging in");
    case SmtpSession::State::AwaitMailFrom:
        return QStringLiteral("naming the sender");
    case SmtpSession::State::AwaitRcptTo:
        return QStringLiteral("naming the recipient");
    case SmtpSession::State::AwaitDataGo:
    case SmtpSession::State::AwaitAccepted:
        return QStringLiteral("sending the message");
    }
    return {};
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

SmtpSession::SmtpSession(Winsock *socket, MailSettings settings, SmtpMessageInputs inputs, QObject *parent)
    : QObject(parent), m_socket(socket), m_settings(std::move(settings)), m_inputs(std::move(inputs)),
      m_timer(new QTimer(this))
{
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SmtpSession::Timer1_Timer);
    connect(m_socket, &Winsock::Connected, this, &SmtpSession::Winsock2_Connect);
    connect(m_socket, &Winsock::DataArrival, this, &SmtpSession::Winsock2_DataArrival);
    connect(m_socket, &Winsock::Secured, this, &SmtpSession::Winsock2_Secured);
    connect(m_socket, &Winsock::SecureFailed, this, &SmtpSession::Winsock2_SecureFailed);
    // The status waits for the time-out whatever the cause; the log says what the cause was.
    connect(m_socket, &Winsock::SocketError, this, [this](const QString &text) {
        if (m_state != State::Idle)
            qCWarning(lcMail).noquote().nospace()
                << "Mail server " << Server() << ", while " << Step(m_state) << ": socket error: " << text;
    });
}

QString SmtpSession::Server() const
{
    return Brief(m_settings.strServer + u':' + m_settings.strPort);
}

SmtpSession::Security SmtpSession::ParseSecurity(const QString &text)
{
    const QString name = text.trimmed();
    if (name.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0)
        return Security::None;
    if (name.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
        return Security::StartTls;
    if (name.compare(QLatin1String("SSL/TLS"), Qt::CaseInsensitive) == 0)
        return Security::Tls;
    return Security::Unknown;
}

void SmtpSession::setSettings(const MailSettings &settings)
{
    m_settings = settings;
    if (m_state == State::AwaitPassword && m_settings.strPassword)
        LogIn();
}

void SmtpSession::setTickInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

bool SmtpSession::timerActive() const
{
    return m_timer->isActive();
}

SmtpSession::Opening SmtpSession::Open(const MailSettings &settings, bool sessionRunning)
{
    const auto refused = [](const QString &status) {
        qCWarning(lcMail).noquote() << "Mail not sent:" << status;
        return Opening{Opening::Step::Refused, {status}};
    };
    if (settings.strServer.isEmpty())
        return refused(QStringLiteral("Error: Please Choose a Server First"));
    if (settings.strPort.isEmpty())
        return refused(QStringLiteral("Error: Please enter an Server Port (Default: 25)"));
    if (settings.strEmailTo.isEmpty())
        return refused(QStringLiteral("Error: Please enter an Email Address"));
    // Addresses go into command lines verbatim; a line break in one would let it issue commands of its own.
    if (SmtpMessage::HasControlCharacter(settings.strEmailTo))
        return refused(RecipientProblem());
    if (SmtpMessage::HasControlCharacter(settings.strEmailFrom))
        return refused(SenderProblem());
    const Security security = ParseSecurity(settings.strSecurity);
    if (security == Security::Unknown)
        return refused(
            QStringLiteral("Error: Please choose the connection security: None, STARTTLS or SSL/TLS."));
    // A login over a plain connection would hand the password to anyone on the way.
    if (security == Security::None && !settings.strUser.isEmpty())
        return refused(QStringLiteral(
            "Error: A user name is set, so the connection must be secured: choose STARTTLS or SSL/TLS."));
    if (security != Security::None && !Winsock::CanEncrypt())
        return refused(QStringLiteral("Error: Secure connections are not available on this computer."));

    const QString connecting = QStringLiteral("Connecting...");
    const QString unavailable = QStringLiteral("Error: Server or connection not available.");
    if (sessionRunning)
        return {Opening::Step::Busy, {connecting, unavailable}};
    const int port = SmtpReply::LeadingNumber(settings.strPort);
    if (port <= 0 || port > 65535)
        return {Opening::Step::NoConnection, {connecting, unavailable}};
    return {Opening::Step::Connect, {connecting}};
}

void SmtpSession::Send(quint64 job)
{
    const Opening opening = Open(m_settings, m_socketInUse);
    for (const QString &status : opening.statuses)
        SetStatus(status);
    Continue(job, opening.step);
}

void SmtpSession::Continue(quint64 job, Opening::Step step)
{
    const bool idle = m_state == State::Idle;
    const auto notStarted = [this, job] { emit ended({job, false, false, m_lastStatus}); };
    if (step == Opening::Step::Refused)
        return notStarted();
    m_lngTicks = 0;
    StartTimer();
    if (step == Opening::Step::Busy) {
        qCWarning(lcMail).noquote() << "Mail server" << Server()
                                    << "not tried: a session still holds the connection";
        // The running session carries on, its count started again; one that has just ended needs no clock.
        if (idle)
            m_timer->stop();
        return notStarted();
    }
    const Security security = ParseSecurity(m_settings.strSecurity);
    const Winsock::Tls tls = security == Security::Tls        ? Winsock::Tls::AtOnce
                             : security == Security::StartTls ? Winsock::Tls::Later
                                                              : Winsock::Tls::None;
    if (step == Opening::Step::NoConnection ||
        !m_socket->Connect(m_settings.strServer, SmtpReply::LeadingNumber(m_settings.strPort), tls)) {
        if (step == Opening::Step::Connect)
            SetStatus(QStringLiteral("Error: Server or connection not available."));
        qCWarning(lcMail).noquote() << "Mail server" << Server()
                                    << "not tried: no host, or a port outside 1-65535";
        // The timer still closes this attempt.
        if (!idle)
            return notStarted();
        m_job = job;
        return SetState(State::Connecting);
    }
    m_socketInUse = true;
    m_security = security;
    SetState(State::Connecting);
    // An attempt still waiting for its time-out never connected: it ends here, and the connection is
    // this operation's, so that the job that delivers is the one told so.
    if (!idle)
        emit ended({m_job, true, false, m_lastStatus});
    m_job = job;
}

void SmtpSession::Winsock2_Connect()
{
    if (m_state != State::Connecting)
        return;
    m_body = SmtpMessage::Body(m_inputs);
    SetStatus(QStringLiteral("Connected"));
    // The timer keeps counting from the send operation: the greeting must come within the same 30 ticks.
    SetState(State::AwaitGreeting);
    if (m_blnReplyReady)
        TakeReply();
}

void SmtpSession::Winsock2_DataArrival()
{
    m_strReply += m_socket->GetData();
    if (SmtpReply::IsComplete(m_strReply)) {
        m_blnReplyReady = true;
    } else if (m_strReply.size() > ReplyLimit) {
        m_strReply.clear();
        m_blnReplyReady = false;
        if (m_state != State::Idle) {
            m_timer->stop();
            Fail(QStringLiteral("Error: The server sent more than 64 KiB without ending its reply."));
        }
        return;
    }
    if (m_blnReplyReady && m_state >= State::AwaitGreeting && m_state != State::Securing &&
        m_state != State::AwaitPassword)
        TakeReply();
}

void SmtpSession::Winsock2_Secured()
{
    if (m_state != State::Securing)
        return;
    // What the server said before the handshake no longer counts.
    m_strReply.clear();
    m_blnReplyReady = false;
    SendCommand(QLatin1String("EHLO ") + Winsock::LocalHostName() + CrLf, State::AwaitEhlo);
}

void SmtpSession::Winsock2_SecureFailed(const QString &reason)
{
    if (m_state == State::Idle)
        return;
    m_timer->stop();
    Fail(QLatin1String("Error: Could not secure the connection: ") + reason,
         QLatin1String("TLS failed: ") + Brief(reason));
}

void SmtpSession::Timer1_Timer()
{
    SetStatus(QStringLiteral("Connecting... (%1)").arg(m_lngTicks));
    ++m_lngTicks;
    if (m_lngTicks == TimeoutTicks) {
        qCWarning(lcMail).noquote()
            << "Mail server" << Server() << "timed out while" << Step(m_state)
            << QStringLiteral("(%1 ticks of %2 ms)").arg(TimeoutTicks).arg(m_timer->interval());
        const QString status = QLatin1String("Error: Could not connect to ") + m_settings.strServer +
                               QLatin1String(" - timed out");
        Finish(status, false, true);
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
    const MailSettings &settings = m_settings;
    if (SmtpReply::Code(reply) != ExpectedCode(m_state)) {
        const bool login = m_state >= State::AwaitLoginReady && m_state <= State::AwaitLoggedIn;
        Fail(QLatin1String("Error: ") + reply,
             (login ? QLatin1String("login refused: ") : QLatin1String("refused: ")) + Brief(reply));
        return;
    }
    switch (m_state) {
    case State::AwaitGreeting:
        SetStatus(QStringLiteral("Receiving Welcome Message"));
        if (m_security == Security::None)
            SendCommand(QLatin1String("HELO ") + Winsock::LocalHostName() + CrLf, State::AwaitHelo);
        else
            SendCommand(QLatin1String("EHLO ") + Winsock::LocalHostName() + CrLf, State::AwaitEhlo);
        break;
    case State::AwaitHelo:
        SendMailFrom();
        break;
    case State::AwaitEhlo: {
        const QStringList extensions = SmtpReply::Extensions(reply);
        if (!m_socket->IsEncrypted()) {
            if (!extensions.contains(QLatin1String("STARTTLS")))
                return Fail(QStringLiteral("Error: The server does not offer STARTTLS, so the connection "
                                           "cannot be secured."));
            SendCommand(QStringLiteral("STARTTLS\r\n"), State::AwaitStartTls);
        } else if (settings.strUser.isEmpty()) {
            SendMailFrom();
        } else {
            m_mechanisms = SmtpReply::AuthMechanisms(extensions);
            LogIn();
        }
        break;
    }
    case State::AwaitStartTls:
        SetStatus(QStringLiteral("Securing connection..."));
        m_lngTicks = 0;
        StartTimer();
        SetState(State::Securing);
        m_socket->StartTls();
        break;
    case State::AwaitLoginReady:
        SendCommand(Base64(settings.strUser) + CrLf, State::AwaitUserTaken);
        break;
    case State::AwaitUserTaken:
        SendCommand(Base64(settings.strPassword.value_or(QString())) + CrLf, State::AwaitLoggedIn);
        break;
    case State::AwaitLoggedIn:
        SendMailFrom();
        break;
    case State::AwaitMailFrom:
        if (SmtpMessage::HasControlCharacter(settings.strEmailTo))
            return Fail(RecipientProblem());
        SendCommand(QLatin1String("RCPT TO:<") + settings.strEmailTo + QLatin1String(">") + CrLf,
                    State::AwaitRcptTo);
        break;
    case State::AwaitRcptTo:
        SendCommand(QStringLiteral("DATA\r\n"), State::AwaitDataGo);
        break;
    case State::AwaitDataGo: {
        // The header carries both addresses; either may have been edited since its command went out.
        if (SmtpMessage::HasControlCharacter(settings.strEmailTo))
            return Fail(RecipientProblem());
        if (SmtpMessage::HasControlCharacter(settings.strEmailFrom))
            return Fail(SenderProblem());
        SetStatus(QStringLiteral("Sending Mail . . ."));
        const QString header =
            SmtpMessage::Header(settings.strEmailFrom, settings.strEmailTo, m_inputs.programName);
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
        Finish(QStringLiteral("Message Sent"), true);
        break;
    case State::Idle:
    case State::Connecting:
    case State::Securing:
    case State::AwaitPassword:
        break;
    }
}

void SmtpSession::SendMailFrom()
{
    const MailSettings &settings = m_settings;
    if (SmtpMessage::HasControlCharacter(settings.strEmailFrom))
        return Fail(SenderProblem());
    SendCommand(QLatin1String("MAIL FROM:<") + settings.strEmailFrom + QLatin1String(">") + CrLf,
                State::AwaitMailFrom);
}

void SmtpSession::LogIn()
{
    const MailSettings &settings = m_settings;
    // Checked again here, where it matters: no credentials leave over a plain connection.
    if (!m_socket->IsEncrypted())
        return Fail(QStringLiteral("Error: The connection is not secured, so the login was not sent."));
    if (m_state != State::AwaitPassword)
        SetStatus(QStringLiteral("Logging in..."));
    if (!settings.strPassword) {
        // The keyring gets the same time as a server reply; its answer comes with setSettings.
        m_lngTicks = 0;
        StartTimer();
        SetState(State::AwaitPassword);
        return;
    }
    m_timer->stop();
    if (m_mechanisms.contains(QLatin1String("PLAIN"))) {
        const QString credentials = QChar(0) + settings.strUser + QChar(0) + *settings.strPassword;
        SendCommand(QLatin1String("AUTH PLAIN ") + Base64(credentials) + CrLf, State::AwaitLoggedIn);
    } else if (m_mechanisms.contains(QLatin1String("LOGIN"))) {
        SendCommand(QStringLiteral("AUTH LOGIN\r\n"), State::AwaitLoginReady);
    } else {
        Fail(QStringLiteral("Error: The server offers no login method Netquill knows (PLAIN or LOGIN)."));
    }
}

void SmtpSession::SendCommand(const QString &line, State next)
{
    m_socket->SendData(line);
    m_lngTicks = 0;
    StartTimer();
    SetState(next);
}

void SmtpSession::Fail(const QString &status, const QString &cause)
{
    qCWarning(lcMail).noquote() << "Mail server" << Server() << "- failed while" << Step(m_state) << "-"
                                << (cause.isEmpty() ? status : cause);
    Finish(status);
}

void SmtpSession::Finish(const QString &status, bool sent, bool closeFirst)
{
    const bool running = m_state != State::Idle;
    // Before the last status text: a send made on that text finds the connection free.
    if (running)
        emit released(m_job);
    if (closeFirst)
        EndMailSession();
    SetStatus(status);
    if (!closeFirst)
        EndMailSession();
    if (running)
        emit ended({m_job, true, sent, status});
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
    m_lastStatus = text;
    emit statusChanged(text);
}

void SmtpSession::SetState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

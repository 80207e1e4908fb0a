#include "WhoisClient.h"

#include "NettoolsLog.h"
#include "WhoisServer.h"
#include "Winsock.h"

#include <QTimer>

WhoisClient::WhoisClient(QObject *parent)
    : QObject(parent), Winsock1(new Winsock(this)), strWhoisText(MaxAnswerLength),
      m_timeLimit(new QTimer(this))
{
    connect(Winsock1, &Winsock::Connected, this, &WhoisClient::Winsock1_Connect);
    connect(Winsock1, &Winsock::DataArrival, this, &WhoisClient::Winsock1_DataArrival);
    connect(Winsock1, &Winsock::Closed, this, &WhoisClient::Winsock1_Close);
    connect(Winsock1, &Winsock::SocketError, this, &WhoisClient::Winsock1_Error);
    m_timeLimit->setSingleShot(true);
    connect(m_timeLimit, &QTimer::timeout, this, &WhoisClient::timeLimit_Timer);
}

void WhoisClient::ask(const QString &query)
{
    stop();
    m_query = query;
    strWhoisText.clear();
    m_connected = m_received = m_finished = false;
    const WhoisServer::Endpoint server = WhoisServer::current();
    Winsock1->LocalPort = 0;
    Winsock1->RemoteHost = server.host;
    Winsock1->RemotePort = server.port;
    m_timeLimit->start(m_timeLimitMs);
    if (!Winsock1->Connect())
        fail(QStringLiteral("No whois server to ask"));
}

void WhoisClient::setTimeLimit(int milliseconds)
{
    m_timeLimitMs = milliseconds;
    if (!m_finished)
        m_timeLimit->start(milliseconds);
}

void WhoisClient::stop()
{
    m_finished = true; // the connection's own close shows nothing
    m_timeLimit->stop();
    Winsock1->Close();
}

void WhoisClient::Winsock1_Connect()
{
    m_connected = true;
    // The query goes out as UTF-8, as servers read it today; the socket carries 8-bit text, one
    // character per byte.
    Winsock1->SendData(QString::fromLatin1((m_query + QStringLiteral("\r\n")).toUtf8()));
}

void WhoisClient::Winsock1_DataArrival()
{
    if (m_finished)
        return;
    m_received = true;
    if (!take(Winsock1->GetData())) {
        // A server that goes on past any real answer is cut off; what came until then is the answer.
        qCWarning(lcNettools) << "whois answer from" << Winsock1->RemoteHost << "longer than"
                              << MaxAnswerLength << "bytes; cut off there";
        answer();
    }
}

void WhoisClient::Winsock1_Close()
{
    if (m_finished)
        return;
    take(Winsock1->GetData());
    answer();
}

void WhoisClient::Winsock1_Error(const QString &text)
{
    // Once connected, the server's own close comes as an error too ("remote host closed"); whatever it
    // sent until then is its answer, an empty one included.
    if (m_connected) {
        qCDebug(lcNettools).noquote() << "whois connection to" << Winsock1->RemoteHost << "ended:" << text;
        return;
    }
    fail(text);
}

void WhoisClient::timeLimit_Timer()
{
    if (m_finished)
        return;
    if (!m_received)
        return fail(QStringLiteral("No answer within %1 s").arg(m_timeLimitMs / 1000.0));
    // Part of an answer is more use than none; the log says it may be incomplete.
    qCWarning(lcNettools) << "whois answer from" << Winsock1->RemoteHost << "not finished within"
                          << m_timeLimitMs << "ms; taken as it is";
    answer();
}

bool WhoisClient::take(const QString &data)
{
    // Received text holds one character per byte: the bytes come back unchanged.
    return strWhoisText.take(data.toLatin1());
}

void WhoisClient::answer()
{
    if (m_finished)
        return;
    const QString host = Winsock1->RemoteHost;
    stop();
    emit finished({true, strWhoisText.text(), host, {}});
}

void WhoisClient::fail(const QString &cause)
{
    if (m_finished)
        return;
    const QString host = Winsock1->RemoteHost;
    qCWarning(lcNettools).noquote() << "whois query to" << host << "failed:" << cause;
    stop();
    emit finished({false, {}, host, cause});
}

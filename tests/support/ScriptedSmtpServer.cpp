#include "ScriptedSmtpServer.h"

#include <QTcpSocket>
#include <QTest>

ScriptedSmtpServer::ScriptedSmtpServer(QObject *parent) : QObject(parent)
{
    m_replies = {
        {Greeting, "220 scripted.test ESMTP\r\n"},
        {"HELO", "250 scripted.test\r\n"},
        {"MAIL", "250 2.1.0 Ok\r\n"},
        {"RCPT", "250 2.1.5 Ok\r\n"},
        {"DATA", "354 End data with <CR><LF>.<CR><LF>\r\n"},
        {EndOfData, "250 2.0.0 Ok: queued\r\n"},
        {"QUIT", "221 2.0.0 Bye\r\n"},
    };
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedSmtpServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

void ScriptedSmtpServer::send(const QByteArray &data)
{
    if (m_client) {
        m_client->write(data);
        m_client->flush();
    }
}

void ScriptedSmtpServer::closeClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}

bool ScriptedSmtpServer::clientConnected() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

bool ScriptedSmtpServer::waitForCommand(const QByteArray &prefix, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            for (const QByteArray &line : std::as_const(m_commands))
                if (line.startsWith(prefix))
                    return true;
            return false;
        },
        timeoutMs);
}

bool ScriptedSmtpServer::waitForConnection(int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_connections > 0; }, timeoutMs);
}

bool ScriptedSmtpServer::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_connections > 0 && !clientConnected(); }, timeoutMs);
}

void ScriptedSmtpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client)
            m_client->deleteLater();
        m_client = socket;
        ++m_connections;
        m_received.clear();
        m_pending.clear();
        m_commands.clear();
        m_message.clear();
        m_inData = false;
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedSmtpServer::onReadyRead);
        reply(Greeting);
    }
}

void ScriptedSmtpServer::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (socket != m_client)
        return;
    const QByteArray data = socket->readAll();
    m_received += data;
    m_pending += data;
    for (;;) {
        if (m_inData) {
            // The terminator's CR LF also ends the last message line.
            const qsizetype end = m_pending.indexOf("\r\n.\r\n");
            if (end < 0)
                return;
            m_message = m_pending.left(end);
            m_pending.remove(0, end + 5);
            m_inData = false;
            reply(EndOfData);
            continue;
        }
        const qsizetype end = m_pending.indexOf("\r\n");
        if (end < 0)
            return;
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 2);
        m_commands.append(line);
        qsizetype wordEnd = 0;
        while (wordEnd < line.size() && line.at(wordEnd) != ' ' && line.at(wordEnd) != ':')
            ++wordEnd;
        const QByteArray word = line.left(wordEnd).toUpper();
        reply(word);
        if (word == "DATA" && m_replies.value(word).startsWith("354"))
            m_inData = true;
    }
}

void ScriptedSmtpServer::reply(const QByteArray &key)
{
    const QByteArray text = m_replies.value(key);
    if (!text.isEmpty())
        send(text);
}

#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;

/// An SMTP peer for tests. It runs in the test's own thread (it answers while the test waits in
/// QTRY_* or QTest::qWaitFor), listens on 127.0.0.1 at a free port from construction on, and answers
/// each command from a table the test sets up; a command without an entry gets no answer, so the test
/// can answer by hand with send() at the moment it chooses.
///
///     ScriptedSmtpServer server;                       // greeting and replies of a willing server
///     server.setReply("RCPT", "550 no such user\r\n");
///     server.setReply(ScriptedSmtpServer::Greeting, {}); // silent: the test sends it in pieces
///     server.send("220 part");
///
/// Keys are the command word in capitals ("HELO", "MAIL", "RCPT", "DATA", "QUIT"), Greeting for the
/// text sent on connecting and EndOfData for the reply to the message terminator. After a DATA reply
/// beginning with 354 the server collects message data up to the terminator CR LF "." CR LF.
/// One client at a time: a new connection replaces the previous one and resets what was received.
class ScriptedSmtpServer : public QObject {
    Q_OBJECT
public:
    static inline const QByteArray Greeting = "<greeting>";
    static inline const QByteArray EndOfData = "<end of data>";

    explicit ScriptedSmtpServer(QObject *parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }

    /// Sets the reply for a key; an empty reply means no answer.
    void setReply(const QByteArray &key, const QByteArray &reply) { m_replies.insert(key, reply); }
    /// Sends raw bytes to the current client at once, as one write.
    void send(const QByteArray &data);
    /// Closes the current client's connection from the server side.
    void closeClient();

    int connectionCount() const { return m_connections; }
    bool clientConnected() const;
    /// Every byte the current client sent.
    QByteArray received() const { return m_received; }
    /// Command lines of the current client, without their CR LF, message data excluded.
    QList<QByteArray> commands() const { return m_commands; }
    /// The message bytes between the reply to DATA and the terminator, as they came over the wire.
    QByteArray messageData() const { return m_message; }

    /// Waits until a command line beginning with prefix has arrived.
    bool waitForCommand(const QByteArray &prefix, int timeoutMs = 5000);
    bool waitForConnection(int timeoutMs = 5000);
    /// Waits until the current client has gone.
    bool waitForDisconnect(int timeoutMs = 5000);

private:
    void onNewConnection();
    void onReadyRead();
    void reply(const QByteArray &key);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QHash<QByteArray, QByteArray> m_replies;
    int m_connections = 0;
    QByteArray m_received;
    QByteArray m_pending;
    QList<QByteArray> m_commands;
    QByteArray m_message;
    bool m_inData = false;
};

#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <optional>
#include <utility>

class QTcpSocket;

/// A web server for tests. It runs in the test's own thread (answers go out while the test waits in
/// QTRY_* or QTest::qWaitFor), listens on 127.0.0.1 at a free port from construction on, and answers
/// each request as the test scripted it.
///
///     ScriptedHttpServer server;
///     QVERIFY(server.isListening());
///     server.setResponse("/ip", ScriptedHttpServer::Response::ok("203.0.113.7\n"));
///     server.enqueue("/ip", ScriptedHttpServer::Response::status(500));          // the next request only
///     server.enqueue("/slow", ScriptedHttpServer::Response::ok("x").delayed(300));
///     server.setResponse("/old", ScriptedHttpServer::Response::redirect("/ip"));
///     server.setResponse("/never", ScriptedHttpServer::Response::hang());
///     fetcher.Navigate(server.url("/ip"));
///     QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 5000);
///     QCOMPARE(server.requests().at(0).path, QByteArray("/ip"));
///
/// A request is answered from its path's queue first (each queued response once, in order), then by the
/// path's standing response, and with 404 when the path has neither. Paths are matched without the
/// query string. A request is complete at its blank line (plus a Content-Length body if it announces
/// one), however many packets it comes in. After an answer the connection is closed, unless the response
/// keeps it open; then further requests on it are answered too. Qt's network layer sends a request again
/// once when its connection closes without an answer, so closeWithoutAnswer may log two requests.
///
/// After acceptTls, a connection that opens with a TLS handshake is answered over TLS on the same port
/// (secureUrl), as a server that tells plain requests to come back over https would be.
class ScriptedHttpServer : public QObject {
    Q_OBJECT
public:
    struct Response {
        enum class Kind {
            Answer, ///< send status line, headers and body
            Hang,   ///< read the request, never answer, keep the connection open
            Close,  ///< read the request and close the connection without a byte of answer
        };
        Kind kind = Kind::Answer;
        int statusCode = 200;
        /// Sent as given. Content-Length is added unless present; "Connection: close" unless keepOpen.
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int delayMs = 0;       ///< wait this long before answering (or closing)
        bool keepOpen = false; ///< leave the connection open after the answer

        static Response ok(const QByteArray &body, const QByteArray &contentType = "text/html");
        static Response status(int code, const QByteArray &body = {});
        static Response redirect(const QByteArray &location, int code = 302);
        static Response hang();
        static Response closeWithoutAnswer();

        Response &header(const QByteArray &name, const QByteArray &value);
        Response &delayed(int milliseconds);
        Response &keepingOpen();
    };

    struct Request {
        QByteArray method;
        QByteArray target; ///< as sent: path and query
        QByteArray path;   ///< target without the query string
        QByteArray raw;    ///< every byte of the request, body included
        /// Value of the first header of that name (letter case ignored), or a null QByteArray.
        QByteArray header(const QByteArray &name) const;
    };

    explicit ScriptedHttpServer(QObject *parent = nullptr);
    ~ScriptedHttpServer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_port; }
    /// "127.0.0.1:<port>"
    QString hostAndPort() const;
    /// Listens on another loopback address (127.0.0.2 ...) instead, as a server of another host.
    bool listenOn(const QHostAddress &address);
    /// "http://127.0.0.1:<port>" + path
    QUrl url(const QString &path) const;
    /// "https://127.0.0.1:<port>" + path
    QUrl secureUrl(const QString &path) const;

    /// Answers TLS connections too, with server.pem and server.key of folder (certified for 127.0.0.1
    /// by its ca.pem, which this process's default TLS configuration then trusts). False when the
    /// files cannot be read.
    bool acceptTls(const QString &folder);

    /// Answers every request for path that its queue does not answer.
    void setResponse(const QByteArray &path, const Response &response);
    /// Answers one later request for path, after those queued before it.
    void enqueue(const QByteArray &path, const Response &response);

    /// Every request received, oldest first.
    QList<Request> requests() const { return m_requests; }
    QList<Request> requestsFor(const QByteArray &path) const;

    /// Stops listening and drops every open connection; port() keeps its value, so a fetch of url()
    /// afterwards finds the port closed.
    void close();

signals:
    void requestReceived(const QByteArray &path);
    /// A scripted answer was written (or, for closeWithoutAnswer, the connection closed).
    void answered(const QByteArray &path);

private:
    struct Connection {
        QByteArray buffer;
        bool busy = false;  // a request is being answered or hangs
        bool typed = false; // the first byte told plain HTTP from a TLS handshake
    };

    /// Hands out QSslSocket connections, still unencrypted, so that TLS can start on any of them.
    class Listener : public QTcpServer {
    protected:
        void incomingConnection(qintptr handle) override;
    };

    void accept();
    void readFrom(QTcpSocket *socket);
    Response responseFor(const QByteArray &path);
    void answer(QTcpSocket *socket, const Request &request, const Response &response);

    Listener m_server;
    std::optional<QSslConfiguration> m_tls;
    quint16 m_port = 0;
    QHash<QTcpSocket *, Connection> m_connections;
    QHash<QByteArray, QList<Response>> m_queued;
    QHash<QByteArray, Response> m_standing;
    QList<Request> m_requests;
};

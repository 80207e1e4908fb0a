#include "ScriptedHttpServer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool hasHeader(const QList<std::pair<QByteArray, QByteArray>> &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

ScriptedHttpServer::Response ScriptedHttpServer::Response::ok(const QByteArray &body,
                                                              const QByteArray &contentType)
{
    Response response;
    response.body = body;
    response.headers.append({"Content-Type", contentType});
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::status(int code, const QByteArray &body)
{
    Response response;
    response.statusCode = code;
    response.body = body;
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::redirect(const QByteArray &location, int code)
{
    Response response;
    response.statusCode = code;
    response.headers.append({"Location", location});
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::hang()
{
    Response response;
    response.kind = Kind::Hang;
    return response;
}

ScriptedHttpServer::Response ScriptedHttpServer::Response::closeWithoutAnswer()
{
    Response response;
    response.kind = Kind::Close;
    return response;
}

ScriptedHttpServer::Response &ScriptedHttpServer::Response::header(const QByteArray &name,
                                                                   const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

ScriptedHttpServer::Response &ScriptedHttpServer::Response::delayed(int milliseconds)
{
    delayMs = milliseconds;
    return *this;
}

ScriptedHttpServer::Response &ScriptedHttpServer::Response::keepingOpen()
{
    keepOpen = true;
    return *this;
}

QByteArray ScriptedHttpServer::Request::header(const QByteArray &name) const
{
    const QList<QByteArray> lines = raw.left(raw.indexOf("\r\n\r\n")).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0 && lines.at(i).left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return lines.at(i).mid(colon + 1).trimmed();
    }
    return {};
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedHttpServer::accept);
    if (m_server.listen(QHostAddress::LocalHost, 0))
        m_port = m_server.serverPort();
}

// Open connections die with m_server, after our other members: they must not call back into us then.
ScriptedHttpServer::~ScriptedHttpServer()
{
    close();
}

QString ScriptedHttpServer::hostAndPort() const
{
    return QStringLiteral("%1:%2").arg(m_server.serverAddress().toString()).arg(m_port);
}

bool ScriptedHttpServer::listenOn(const QHostAddress &address)
{
    m_server.close();
    m_port = m_server.listen(address, 0) ? m_server.serverPort() : 0;
    return m_port != 0;
}

QUrl ScriptedHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://") + hostAndPort() + path);
}

QUrl ScriptedHttpServer::secureUrl(const QString &path) const
{
    return QUrl(QStringLiteral("https://") + hostAndPort() + path);
}

bool ScriptedHttpServer::acceptTls(const QString &folder)
{
    const QList<QSslCertificate> certificate =
        QSslCertificate::fromPath(folder + QStringLiteral("/server.pem"));
    const QList<QSslCertificate> authority = QSslCertificate::fromPath(folder + QStringLiteral("/ca.pem"));
    QFile keyFile(folder + QStringLiteral("/server.key"));
    if (certificate.isEmpty() || authority.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
        return false;
    const QSslKey key(&keyFile, QSsl::Rsa);
    if (key.isNull())
        return false;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate.first());
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_tls = tls;
    QSslConfiguration client = QSslConfiguration::defaultConfiguration();
    client.addCaCertificates(authority);
    QSslConfiguration::setDefaultConfiguration(client);
    return true;
}

void ScriptedHttpServer::Listener::incomingConnection(qintptr handle)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}

void ScriptedHttpServer::setResponse(const QByteArray &path, const Response &response)
{
    m_standing.insert(path, response);
}

void ScriptedHttpServer::enqueue(const QByteArray &path, const Response &response)
{
    m_queued[path].append(response);
}

QList<ScriptedHttpServer::Request> ScriptedHttpServer::requestsFor(const QByteArray &path) const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void ScriptedHttpServer::close()
{
    m_server.close();
    const QList<QTcpSocket *> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void ScriptedHttpServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_connections.insert(socket, Connection{});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // A TLS handshake opens with a record of type 22; a plain request with its method. Peeked,
            // not read: the handshake is the TLS layer's to read.
            auto it = m_connections.find(socket);
            if (it != m_connections.end() && !it->typed) {
                char first = 0;
                if (socket->peek(&first, 1) < 1)
                    return;
                it->typed = true;
                auto *tls = qobject_cast<QSslSocket *>(socket);
                if (first == 0x16 && m_tls && tls) {
                    tls->setSslConfiguration(*m_tls);
                    tls->startServerEncryption();
                    return;
                }
            }
            readFrom(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void ScriptedHttpServer::readFrom(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->buffer += socket->readAll();
    while (!it->busy) {
        const qsizetype headEnd = it->buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        Request request;
        request.raw = it->buffer.left(headEnd + 4);
        const qsizetype bodyLength = request.header("Content-Length").toLongLong();
        if (it->buffer.size() < request.raw.size() + bodyLength)
            return;
        request.raw = it->buffer.left(request.raw.size() + bodyLength);
        it->buffer.remove(0, request.raw.size());

        const QList<QByteArray> requestLine = request.raw.left(request.raw.indexOf("\r\n")).split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        request.path = request.target.split('?').first();
        const Response response = responseFor(request.path);
        it->busy = true;
        m_requests.append(request);
        emit requestReceived(request.path);

        if (response.kind == Response::Kind::Hang)
            return;
        if (response.delayMs > 0) {
            QTimer::singleShot(response.delayMs, socket, [this, socket, request, response] {
                answer(socket, request, response);
                readFrom(socket);
            });
            return;
        }
        answer(socket, request, response);
        // Receivers of our signals may have closed the connection or the whole server.
        it = m_connections.find(socket);
        if (it == m_connections.end())
            return;
    }
}

ScriptedHttpServer::Response ScriptedHttpServer::responseFor(const QByteArray &path)
{
    auto queued = m_queued.find(path);
    if (queued != m_queued.end() && !queued->isEmpty())
        return queued->takeFirst();
    if (m_standing.contains(path))
        return m_standing.value(path);
    return Response::status(404, "Not Found");
}

void ScriptedHttpServer::answer(QTcpSocket *socket, const Request &request, const Response &response)
{
    if (!m_connections.contains(socket))
        return;
    if (response.kind == Response::Kind::Close) {
        socket->disconnectFromHost();
        emit answered(request.path);
        return;
    }

    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.statusCode) + ' ' +
                       reasonPhrase(response.statusCode) + "\r\n";
    for (const auto &[name, value] : response.headers)
        bytes += name + ": " + value + "\r\n";
    if (!hasHeader(response.headers, "Content-Length") && !hasHeader(response.headers, "Transfer-Encoding"))
        bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (!response.keepOpen && !hasHeader(response.headers, "Connection"))
        bytes += "Connection: close\r\n";
    bytes += "\r\n" + response.body;
    socket->write(bytes);

    if (response.keepOpen)
        m_connections[socket].busy = false;
    else
        socket->disconnectFromHost();
    emit answered(request.path);
}

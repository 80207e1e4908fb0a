#include "Winsock.h"

#include "DefaultRoute.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <poll.h>

namespace {
// Whether the system holds received bytes (or the peer's close) that the socket has not read yet.
// Asked first so that the read below never waits, nor reports a time-out as the socket's error.
bool DataWaiting(const QTcpSocket &socket)
{
    pollfd entry{static_cast<int>(socket.socketDescriptor()), POLLIN, 0};
    return entry.fd >= 0 && ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLIN | POLLHUP)) != 0;
}
} // namespace

Winsock::Winsock(QObject *parent) : QObject(parent)
{
    attachSocket();
}

void Winsock::attachSocket(Tls tls)
{
    m_tls = tls;
    m_handshaking = false;
    m_tlsProblem.clear();
    // Plain connections, the usual case, never load the TLS library.
    auto *ssl = tls == Tls::None ? nullptr : new QSslSocket(this);
    m_socket = ssl ? ssl : new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { emit DataArrival(m_socket->bytesAvailable()); });
    connect(m_socket, &QTcpSocket::disconnected, this, &Winsock::Closed);
    // Before the TLS handler below, which ends the handshake that makes this a SecureFailed instead.
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this, socket = m_socket] {
        if (!m_handshaking && socket == m_socket)
            emit SocketError(socket->errorString());
    });
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        // Commands are short and each waits for its reply; Nagle's algorithm would hold a command
        // written while the one before is still unacknowledged (the message's terminator).
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (m_tls == Tls::AtOnce) {
            m_handshaking = true;
            return;
        }
        QTcpSocket *socket = m_socket;
        emit Connected();
        // A server speaks first, as soon as it accepts. When this notice came late (the window was
        // busy drawing), what it said is here already: it is read now, not after the repaints the
        // handlers have just asked for.
        if (m_socket == socket && socket->state() == QAbstractSocket::ConnectedState &&
            socket->bytesAvailable() == 0 && DataWaiting(*socket))
            socket->waitForReadyRead(0);
    });
    if (!ssl)
        return;
    connect(ssl, &QSslSocket::encrypted, this, [this] {
        m_handshaking = false;
        if (m_tls == Tls::AtOnce)
            emit Connected();
        else
            emit Secured();
    });
    connect(ssl, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        QStringList reasons;
        for (const QSslError &error : errors)
            reasons << error.errorString();
        m_tlsProblem = reasons.join(QLatin1String("; "));
    });
    connect(ssl, &QSslSocket::errorOccurred, this, [this, ssl] {
        if (!m_handshaking)
            return;
        m_handshaking = false;
        emit SecureFailed(m_tlsProblem.isEmpty() ? ssl->errorString() : m_tlsProblem);
    });
}

bool Winsock::CanEncrypt()
{
    return QSslSocket::supportsSsl();
}

QString Winsock::LocalIP()
{
    // The interface that reaches the internet, not whichever comes first: a Docker bridge, a VPN's
    // tunnel or a virtual machine's bridge is often listed before it.
    const QNetworkInterface routed = QNetworkInterface::interfaceFromName(DefaultRoute::interfaceName());
    for (const QNetworkAddressEntry &entry : routed.addressEntries()) {
        const QHostAddress ip = entry.ip();
        if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
            return ip.toString();
    }
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QString Winsock::LocalHostName()
{
    return QHostInfo::localHostName();
}

int Winsock::State() const
{
    return m_socket->state() == QAbstractSocket::UnconnectedState ? 0 : 1;
}

bool Winsock::Connect(const QString &host, int port, Tls tls)
{
    if (State() != 0 || port <= 0 || port > 65535 || host.isEmpty())
        return false;
    if (tls != Tls::None && !CanEncrypt())
        return false;
    if (tls != m_tls) {
        m_socket->disconnect(this);
        m_socket->deleteLater();
        attachSocket(tls);
    }
    m_tlsProblem.clear();
    RemoteHost = host;
    RemotePort = static_cast<quint16>(port);
    if (LocalPort != 0)
        m_socket->bind(QHostAddress::AnyIPv4, LocalPort);
    if (tls == Tls::AtOnce)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(host, RemotePort);
    else
        m_socket->connectToHost(host, RemotePort);
    return true;
}

void Winsock::StartTls()
{
    auto *ssl = qobject_cast<QSslSocket *>(m_socket);
    if (!ssl || m_tls != Tls::Later || ssl->state() != QAbstractSocket::ConnectedState || ssl->isEncrypted())
        return;
    // Whatever came in the clear before the handshake must not be read as if it came after it.
    ssl->readAll();
    m_handshaking = true;
    ssl->startClientEncryption();
}

bool Winsock::IsEncrypted() const
{
    auto *ssl = qobject_cast<QSslSocket *>(m_socket);
    return ssl && ssl->isEncrypted();
}

bool Winsock::Connect()
{
    return Connect(RemoteHost, RemotePort);
}

void Winsock::SendData(const QString &text)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_socket->write(text.toLatin1());
    // Out at once: left to the event loop, the bytes would wait behind whatever is queued before the
    // socket's next write notice (a repaint of the window, say).
    m_socket->flush();
}

QString Winsock::GetData()
{
    return QString::fromLatin1(m_socket->readAll());
}

void Winsock::Close()
{
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    // Closed means the peer hung up, so the closing socket is cut loose before it can report its own
    // close, and a fresh socket takes its place. What was just sent (a QUIT, say) still leaves.
    QTcpSocket *closing = m_socket;
    closing->disconnect(this);
    attachSocket();
    if (closing->state() != QAbstractSocket::ConnectedState || closing->bytesToWrite() == 0) {
        closing->abort();
        closing->deleteLater();
        return;
    }
    connect(closing, &QTcpSocket::disconnected, closing, &QObject::deleteLater);
    QTimer::singleShot(5000, closing, [closing] {
        closing->abort();
        closing->deleteLater();
    });
    closing->disconnectFromHost();
}

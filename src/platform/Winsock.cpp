#include "Winsock.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>

Winsock::Winsock(QObject *parent) : QObject(parent)
{
    attachSocket();
}

void Winsock::attachSocket()
{
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &Winsock::Connected);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { emit DataArrival(m_socket->bytesAvailable()); });
    connect(m_socket, &QTcpSocket::disconnected, this, &Winsock::Closed);
}

QString Winsock::LocalIP()
{
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

bool Winsock::Connect(const QString &host, int port)
{
    if (State() != 0 || port <= 0 || port > 65535 || host.isEmpty())
        return false;
    RemoteHost = host;
    RemotePort = static_cast<quint16>(port);
    if (LocalPort != 0)
        m_socket->bind(QHostAddress::AnyIPv4, LocalPort);
    m_socket->connectToHost(host, RemotePort);
    return true;
}

bool Winsock::Connect()
{
    return Connect(RemoteHost, RemotePort);
}

void Winsock::SendData(const QString &text)
{
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(text.toLatin1());
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

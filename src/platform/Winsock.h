#pragma once

#include <QObject>
#include <QString>

class QTcpSocket;

/// TCP client with the operations the program needs of a socket control: 8-bit text in and out,
/// the local address and host name, and Connect / DataArrival / Close events. A connection may be
/// encrypted with TLS, from the first byte or later on request; certificates are checked against the
/// system's trust store and a connection whose certificate fails is never used.
class Winsock : public QObject {
    Q_OBJECT
public:
    enum class Tls {
        None,
        Later, ///< plain at first; StartTls() begins the handshake
        AtOnce ///< the handshake comes first; Connected is raised once it succeeds
    };

    explicit Winsock(QObject *parent = nullptr);

    /// The IPv4 address of the interface holding the lowest-metric default route; without one, the
    /// first running non-loopback interface's; 127.0.0.1 when there is none.
    static QString LocalIP();
    static QString LocalHostName();

    QString RemoteHost;
    quint16 RemotePort = 0;
    quint16 LocalPort = 0;

    /// 0 when closed; any other value means a connection is pending or open.
    int State() const;

    /// Starts connecting and returns at once. Returns false (the control's "error") when the
    /// socket is not closed or the port cannot be used.
    bool Connect(const QString &host, int port, Tls tls = Tls::None);
    bool Connect();
    /// Begins the TLS handshake on a connection opened with Tls::Later; Secured or SecureFailed follows.
    void StartTls();
    bool IsEncrypted() const;
    /// False when this computer has no TLS library.
    static bool CanEncrypt();
    void SendData(const QString &text);
    QString GetData();
    void Close();

signals:
    void Connected();
    void DataArrival(qint64 bytesTotal);
    /// The peer closed the connection; a local Close() raises nothing.
    void Closed();
    /// The handshake StartTls began has succeeded.
    void Secured();
    /// A handshake failed, for the reason given (an untrusted certificate, say); the socket is closing.
    void SecureFailed(const QString &reason);
    /// The connection failed or broke outside a handshake (refused, reset, host not found), with the
    /// system's text; a session uses it to say why it timed out.
    void SocketError(const QString &text);

private:
    void attachSocket(Tls tls = Tls::None);

    QTcpSocket *m_socket = nullptr;
    Tls m_tls = Tls::None;
    bool m_handshaking = false;
    QString m_tlsProblem; // what the certificate check found, for the failure that follows
};

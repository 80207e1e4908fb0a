#pragma once

#include <QObject>
#include <QString>

class QTcpSocket;

/// TCP client with the operations the program needs of a socket control: 8-bit text in and out,
/// the local address and host name, and Connect / DataArrival / Close events.
class Winsock : public QObject {
    Q_OBJECT
public:
    explicit Winsock(QObject *parent = nullptr);

    /// The computer's primary non-loopback IPv4 address, or 127.0.0.1 when there is none.
    static QString LocalIP();
    static QString LocalHostName();

    QString RemoteHost;
    quint16 RemotePort = 0;
    quint16 LocalPort = 0;

    /// 0 when closed; any other value means a connection is pending or open.
    int State() const;

    /// Starts connecting and returns at once. Returns false (the control's "error") when the
    /// socket is not closed or the port cannot be used.
    bool Connect(const QString &host, int port);
    bool Connect();
    void SendData(const QString &text);
    QString GetData();
    void Close();

signals:
    void Connected();
    void DataArrival(qint64 bytesTotal);
    /// The peer closed the connection; a local Close() raises nothing.
    void Closed();

private:
    void attachSocket();

    QTcpSocket *m_socket = nullptr;
};

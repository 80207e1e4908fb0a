#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// A real SMTP server for end-to-end tests: aiosmtpd on 127.0.0.1 at a free port, with a small handler
/// that writes the raw data of each received message (dot-stuffing removed, as the server stores it)
/// to a numbered file. Started by start(), stopped by stop() or the destructor.
class RealSmtpServer {
public:
    struct Message {
        QByteArray data;
        QString mailFrom;
        QStringList rcptTo;
    };

    RealSmtpServer() = default;
    ~RealSmtpServer() { stop(); }
    RealSmtpServer(const RealSmtpServer &) = delete;
    RealSmtpServer &operator=(const RealSmtpServer &) = delete;

    /// Starts the server and waits until it accepts connections. On failure, error says why.
    bool start(QString *error);
    void stop();
    quint16 port() const { return m_port; }

    /// Number of messages received so far.
    int messageCount() const;
    /// The n-th message received, counting from 1.
    Message message(int n) const;
    bool waitForMessages(int count, int timeoutMs = 10000) const;

private:
    bool acceptsConnections() const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

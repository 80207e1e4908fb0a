#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// A real SMTP server for end-to-end tests: aiosmtpd on 127.0.0.1 at a free port, with a small handler
/// that writes the raw data of each received message (dot-stuffing removed, as the server stores it)
/// to a numbered file. Plain by default; it can offer STARTTLS or speak TLS from the first byte, and
/// take logins. Started by start(), stopped by stop() or the destructor.
class RealSmtpServer {
public:
    struct Options {
        enum class Tls { None, StartTls, AtOnce } tls = Tls::None;
        QString certificate; // PEM files, needed for either kind of TLS
        QString key;
        QMap<QString, QString> users;  // user name to password; none: no AUTH offered
        QStringList excludeMechanisms; // AUTH mechanisms not to offer ("PLAIN", "LOGIN")
    };
    struct Message {
        QByteArray data;
        QString mailFrom;
        QStringList rcptTo;
        QString login; // the user the message was sent as; empty without a login
    };

    RealSmtpServer();
    explicit RealSmtpServer(Options options);
    ~RealSmtpServer() { stop(); }
    RealSmtpServer(const RealSmtpServer &) = delete;
    RealSmtpServer &operator=(const RealSmtpServer &) = delete;

    /// Starts the server and waits until it accepts connections. On failure, error says why.
    bool start(QString *error);
    /// Why the server cannot run here (no Python or no aiosmtpd); empty when it can.
    static QString missing();
    void stop();
    quint16 port() const { return m_port; }

    /// Number of messages received so far.
    int messageCount() const;
    /// The n-th message received, counting from 1.
    Message message(int n) const;
    bool waitForMessages(int count, int timeoutMs = 10000) const;

private:
    bool acceptsConnections() const;

    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

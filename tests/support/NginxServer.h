#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

/// A real nginx on 127.0.0.1 serving the deploy/ snippet, run from a private prefix folder.
class NginxServer {
public:
    NginxServer() = default;
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    /// Starts nginx with the snippet inside its server block; false (with error()) when it cannot.
    bool start(const QString &snippetPath);
    void stop();

    quint16 port() const { return m_port; }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString error() const { return m_error; }

    static QString nginxBinary();
    /// Why nginx cannot run here; empty when it can.
    static QString missing()
    {
        return nginxBinary().isEmpty() ? QStringLiteral("nginx is not installed") : QString();
    }

private:
    QTemporaryDir m_prefix;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

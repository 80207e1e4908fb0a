#include "NginxServer.h"

#include "ProcessStop.h"

#include "FreePort.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

QString NginxServer::nginxBinary()
{
    for (const QString &candidate : {QStringLiteral("/usr/sbin/nginx"), QStringLiteral("/usr/bin/nginx")}) {
        if (QFile::exists(candidate))
            return candidate;
    }
    return QStandardPaths::findExecutable(QStringLiteral("nginx"));
}

NginxServer::~NginxServer()
{
    stop();
}

bool NginxServer::start(const QString &snippetPath)
{
    const QString binary = nginxBinary();
    if (binary.isEmpty()) {
        m_error = QStringLiteral("nginx is not installed");
        return false;
    }
    m_port = FreePort::pick();
    const QString prefix = m_prefix.path();
    const QString config = QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
pid %1/nginx.pid;
error_log %1/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path %1/body;
    proxy_temp_path %1/proxy;
    fastcgi_temp_path %1/fastcgi;
    uwsgi_temp_path %1/uwsgi;
    scgi_temp_path %1/scgi;
    server {
        listen 127.0.0.1:%2;
        include %3;
    }
}
)")
                               .arg(prefix)
                               .arg(m_port)
                               .arg(snippetPath);
    QFile file(prefix + QStringLiteral("/nginx.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write the nginx configuration");
        return false;
    }
    file.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(binary, {QStringLiteral("-p"), prefix, QStringLiteral("-c"), file.fileName()});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("nginx did not start");
        return false;
    }
    const bool listening = QTest::qWaitFor(
        [this] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), m_port);
            return probe.waitForConnected(200);
        },
        10000);
    if (!listening) {
        m_error = QStringLiteral("nginx does not listen: ") + QString::fromLocal8Bit(m_process.readAll());
        stop();
        return false;
    }
    return true;
}

void NginxServer::stop()
{
    stopProcess(m_process);
}

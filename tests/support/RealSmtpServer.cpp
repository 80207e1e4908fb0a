#include "RealSmtpServer.h"

#include "ProcessStop.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {
const char HandlerModule[] = R"(import asyncio
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


class Capture:
    """Writes each message's raw data to <n>.eml and its envelope to <n>.json."""

    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos, "login": session.auth_data}, f)
        with open(base + ".part", "wb") as f:
            f.write(envelope.original_content)
        # The .eml appears whole or not at all.
        os.rename(base + ".part", base + ".eml")
        return "250 Message accepted for delivery"


def main():
    config = json.loads(sys.argv[1])
    users = config["users"]
    context = None
    if config["cert"]:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(config["cert"], config["key"])

    def authenticator(server, session, envelope, mechanism, auth_data):
        login = auth_data.login.decode()
        ok = users.get(login) == auth_data.password.decode()
        return AuthResult(success=ok, handled=False, auth_data=login if ok else None)

    handler = Capture(config["folder"])

    def factory():
        return SMTP(handler, hostname="smtp.test",
                    tls_context=context if config["mode"] == "starttls" else None,
                    authenticator=authenticator if users else None,
                    # aiosmtpd cannot tell a connection that was TLS from its first byte.
                    auth_require_tls=config["mode"] != "tls",
                    auth_exclude_mechanism=config["exclude"])

    loop = asyncio.new_event_loop()
    implicit = context if config["mode"] == "tls" else None
    loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=config["port"], ssl=implicit))
    loop.run_forever()


main()
)";

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
} // namespace

RealSmtpServer::RealSmtpServer() : RealSmtpServer(Options()) {}

RealSmtpServer::RealSmtpServer(Options options) : m_options(std::move(options)) {}

bool RealSmtpServer::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("mail"));
    QFile module(m_dir.filePath(QStringLiteral("netquill_capture.py")));
    if (!module.open(QIODevice::WriteOnly) || module.write(HandlerModule) < 0) {
        *error = QStringLiteral("cannot write the handler module");
        return false;
    }
    module.close();

    m_port = freePort();
    if (m_port == 0) {
        *error = QStringLiteral("no free port");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONPATH"), m_dir.path());
    env.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    static const char *const Modes[] = {"plain", "starttls", "tls"};
    QJsonObject users;
    for (auto it = m_options.users.cbegin(); it != m_options.users.cend(); ++it)
        users.insert(it.key(), it.value());
    const QJsonObject config{
        {QStringLiteral("port"), m_port},
        {QStringLiteral("folder"), m_dir.filePath(QStringLiteral("mail"))},
        {QStringLiteral("mode"), QLatin1String(Modes[int(m_options.tls)])},
        {QStringLiteral("cert"), m_options.certificate},
        {QStringLiteral("key"), m_options.key},
        {QStringLiteral("users"), users},
        {QStringLiteral("exclude"), QJsonArray::fromStringList(m_options.excludeMechanisms)}};
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {m_dir.filePath(QStringLiteral("netquill_capture.py")),
                     QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact))});
    if (!m_process.waitForStarted(5000)) {
        *error = QStringLiteral("cannot start aiosmtpd: ") + m_process.errorString();
        return false;
    }
    const bool ready = QTest::qWaitFor(
        [&] { return m_process.state() != QProcess::Running || acceptsConnections(); }, 15000);
    if (!ready || m_process.state() != QProcess::Running) {
        *error = QStringLiteral("aiosmtpd did not come up: ") + QString::fromLocal8Bit(m_process.readAll());
        stop();
        return false;
    }
    return true;
}

void RealSmtpServer::stop()
{
    stopProcess(m_process);
}

bool RealSmtpServer::acceptsConnections() const
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, m_port);
    const bool connected = QTest::qWaitFor(
                               [&] {
                                   return probe.state() == QAbstractSocket::ConnectedState ||
                                          probe.state() == QAbstractSocket::UnconnectedState;
                               },
                               500) &&
                           probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    if (!connected)
        QTest::qWait(50);
    return connected;
}

int RealSmtpServer::messageCount() const
{
    return QDir(m_dir.filePath(QStringLiteral("mail")))
        .entryList({QStringLiteral("*.eml")}, QDir::Files)
        .size();
}

RealSmtpServer::Message RealSmtpServer::message(int n) const
{
    Message result;
    const QString base = m_dir.filePath(QStringLiteral("mail/%1").arg(n));
    QFile data(base + QStringLiteral(".eml"));
    if (data.open(QIODevice::ReadOnly))
        result.data = data.readAll();
    QFile envelope(base + QStringLiteral(".json"));
    if (envelope.open(QIODevice::ReadOnly)) {
        const QJsonObject object = QJsonDocument::fromJson(envelope.readAll()).object();
        result.mailFrom = object.value(QStringLiteral("from")).toString();
        result.login = object.value(QStringLiteral("login")).toString();
        for (const QJsonValue &to : object.value(QStringLiteral("to")).toArray())
            result.rcptTo.append(to.toString());
    }
    return result;
}

bool RealSmtpServer::waitForMessages(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return messageCount() >= count; }, timeoutMs);
}

QString RealSmtpServer::missing()
{
    static const QString reason = [] {
        QProcess probe;
        probe.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
        if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0)
            return QString();
        return QStringLiteral("python3-aiosmtpd is not installed");
    }();
    return reason;
}

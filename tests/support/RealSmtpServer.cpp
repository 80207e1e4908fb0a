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
const char HandlerModule[] = R"(import json
import os


class Capture:
    """Writes each message's raw data to <n>.eml and its envelope to <n>.json."""

    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos}, f)
        with open(base + ".part", "wb") as f:
            f.write(envelope.original_content)
        # The .eml appears whole or not at all.
        os.rename(base + ".part", base + ".eml")
        return "250 Message accepted for delivery"
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
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-m"), QStringLiteral("aiosmtpd"), QStringLiteral("-n"),
                     QStringLiteral("-l"), QStringLiteral("127.0.0.1:%1").arg(m_port), QStringLiteral("-c"),
                     QStringLiteral("netquill_capture.Capture"), m_dir.filePath(QStringLiteral("mail"))});
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
        for (const QJsonValue &to : object.value(QStringLiteral("to")).toArray())
            result.rcptTo.append(to.toString());
    }
    return result;
}

bool RealSmtpServer::waitForMessages(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return messageCount() >= count; }, timeoutMs);
}

#include "AppriseChannel.h"

#include "MailLog.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {
// What of the command's own words is kept for the cause.
constexpr qsizetype OutputKept = 2000;
} // namespace

AppriseChannel::AppriseChannel(QStringList urls, QObject *parent)
    : NoticeChannel(parent), m_urls(std::move(urls))
{
    qRegisterMetaType<ChannelResult>();
}

QString AppriseChannel::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("apprise"));
}

quint64 AppriseChannel::send(const Notice &notice)
{
    const quint64 job = nextJob();
    const QString command = program();
    if (command.isEmpty())
        return refuse(job, QStringLiteral("the apprise command is not installed (Debian package apprise)"));
    if (m_urls.isEmpty())
        return refuse(job, QStringLiteral("no Apprise URL is set"));

    auto *process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("APPRISE_URLS"), m_urls.join(u' '));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    auto *limit = new QTimer(process);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, process, [process] { process->kill(); });
    auto output = std::make_shared<QByteArray>();
    connect(process, &QProcess::readyRead, process, [process, output] {
        const QByteArray part = process->readAll();
        if (output->size() < OutputKept)
            *output += part.left(OutputKept - output->size());
    });
    connect(
        process, &QProcess::finished, this,
        [this, process, limit, output, job](int exitCode, QProcess::ExitStatus status) {
            process->deleteLater();
            ChannelResult result{job, status == QProcess::NormalExit && exitCode == 0, {}};
            if (!result.delivered) {
                const QString said = QString::fromUtf8(*output).simplified();
                result.cause =
                    !limit->isActive() && status != QProcess::NormalExit
                        ? QStringLiteral("apprise did not end within %1 s").arg(m_timeoutMs / 1000)
                        : QStringLiteral("apprise failed (exit %1): %2").arg(exitCode).arg(said.right(300));
                qCWarning(lcMail).noquote() << "Notice through Apprise not delivered:" << result.cause;
            }
            emit finished(result);
        });
    connect(process, &QProcess::errorOccurred, this, [this, process, job](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        emit finished({job, false, QStringLiteral("apprise cannot start: ") + process->errorString()});
    });
    // -v: its warnings say why a send failed.
    process->start(command, {QStringLiteral("-v"), QStringLiteral("--title"), notice.title(),
                             QStringLiteral("--body"), notice.text()});
    limit->start(m_timeoutMs);
    return job;
}

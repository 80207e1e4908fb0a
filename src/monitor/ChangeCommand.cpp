#include "ChangeCommand.h"

#include "CommandLog.h"
#include "Orphans.h"
#include "SourceAnswer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcCommand, "netquill.command")

namespace {
// An old value that is no address (none recorded yet, or markup a page once answered) is passed as
// empty, so that a script never has to tell an address from anything else.
QString addressOrEmpty(const QString &text)
{
    return SourceAnswer::isAddress(text) ? text : QString();
}

// What the launcher writes when the program cannot be started, with exit status 127 (a command's own
// 127, "not found" in a script, comes with other output).
constexpr char LauncherPrefix[] = "netquill-launcher: ";
constexpr int LauncherCannotStart = 127;
} // namespace

ChangeCommand::ChangeCommand(QObject *parent)
    : QObject(parent), m_deadline(new QTimer(this)), m_orphans(new Orphans(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (!m_process)
            return;
        if (m_launched && !m_killed) {
            // The launcher ends the command and all it started, then itself; killed only if it hangs.
            m_killed = true;
            m_process->terminate();
            m_deadline->start(LauncherStopTime);
            return;
        }
        m_killed = true;
        killGroup();
        m_process->kill();
    });
}

ChangeCommand::~ChangeCommand()
{
    if (m_process) {
        m_process->disconnect(this);
        if (m_launched) {
            m_process->terminate();
            m_process->waitForFinished(int(LauncherStopTime.count()));
        }
        killGroup();
        delete m_process; // kills it and waits for it
    }
}

QString ChangeCommand::whyNot(const QString &commandLine, const Inputs &inputs)
{
    if (commandLine.trimmed().isEmpty())
        return QStringLiteral("the command line is empty");
    if (commandLine.size() > MaxCommandLength)
        return QStringLiteral("the command line is longer than %1 characters").arg(MaxCommandLength);
    const QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty() || words.first().isEmpty())
        return QStringLiteral("the command line names no program");
    // The product's page may answer markup; a script must never get that as an address.
    if (!SourceAnswer::isAddress(inputs.current.external))
        return QStringLiteral("the external address is not an IP address: ") +
               inputs.current.external.left(40);
    if (!SourceAnswer::isAddress(inputs.current.internal))
        return QStringLiteral("the internal address is not an IP address: ") +
               inputs.current.internal.left(40);
    return {};
}

bool ChangeCommand::Run(const QString &commandLine, const Inputs &inputs)
{
    if (commandLine.trimmed().isEmpty())
        return false;
    const QString reason = whyNot(commandLine, inputs);
    if (!reason.isEmpty()) {
        qCWarning(lcCommand) << "The command on change is not run:" << reason;
        return false;
    }
    if (m_pending && m_process)
        qCInfo(lcCommand) << "A newer change replaces the one waiting for the running command";
    m_pending = Job{commandLine, inputs};
    // Started from the event loop, so that what it reports comes after the lookup's own status.
    if (!m_process)
        QMetaObject::invokeMethod(this, &ChangeCommand::startPending, Qt::QueuedConnection);
    return true;
}

void ChangeCommand::startPending()
{
    if (m_pending && !m_process && !m_orphans->busy())
        start(*std::exchange(m_pending, std::nullopt));
}

void ChangeCommand::start(const Job &job)
{
    QStringList arguments = QProcess::splitCommand(job.commandLine);
    const QString program = arguments.takeFirst();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NETQUILL_INTERNAL"), job.inputs.current.internal);
    environment.insert(QStringLiteral("NETQUILL_EXTERNAL"), job.inputs.current.external);
    environment.insert(QStringLiteral("NETQUILL_OLD_INTERNAL"), addressOrEmpty(job.inputs.old.internal));
    environment.insert(QStringLiteral("NETQUILL_OLD_EXTERNAL"), addressOrEmpty(job.inputs.old.external));
    environment.insert(QStringLiteral("NETQUILL_SOURCE"), job.inputs.source);
    if (job.inputs.current6 && job.inputs.old6) {
        environment.insert(QStringLiteral("NETQUILL_INTERNAL6"),
                           addressOrEmpty(job.inputs.current6->internal));
        environment.insert(QStringLiteral("NETQUILL_EXTERNAL6"),
                           addressOrEmpty(job.inputs.current6->external));
        environment.insert(QStringLiteral("NETQUILL_OLD_INTERNAL6"),
                           addressOrEmpty(job.inputs.old6->internal));
        environment.insert(QStringLiteral("NETQUILL_OLD_EXTERNAL6"),
                           addressOrEmpty(job.inputs.old6->external));
    }

    m_output.clear();
    m_killed = false;
    m_launched = false;
    QString launcher;
#ifdef Q_OS_LINUX
    // Like the page parser, the launcher sits beside the program.
    launcher = QCoreApplication::applicationDirPath() + QStringLiteral("/netquill-launcher");
    if (QFileInfo(launcher).isExecutable()) {
        arguments.prepend(program);
        arguments.prepend(QString::number(QCoreApplication::applicationPid()));
        m_launched = true;
    } else if (Orphans::adopting()) {
        qCWarning(lcCommand) << "The launcher" << launcher << "is missing: the command runs without it";
    } else {
        qCWarning(lcCommand) << "The launcher" << launcher
                             << "is missing: what the command leaves running goes on running, unless the"
                             << "time limit kills its process group";
    }
#endif
    m_process = new QProcess(this);
    Orphans::own(m_process);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // A command that reads its input gets an end of file, not a wait until the time limit.
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setProcessEnvironment(environment);
#ifdef Q_OS_UNIX
    // A session of its own, away from the program's terminal and process group; without the launcher,
    // its group is what the time limit ends (curl, sleep).
    m_process->setChildProcessModifier([] { ::setsid(); });
#endif
    connect(m_process, &QProcess::readyReadStandardOutput, this, &ChangeCommand::OnReadyRead);
    connect(m_process, &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus status) { OnFinished(exitCode, int(status)); });
    connect(m_process, &QProcess::errorOccurred, this,
            [this](QProcess::ProcessError error) { OnErrorOccurred(int(error)); });
    qCInfo(lcCommand) << "Running" << program << "for the external address" << job.inputs.current.external;
    m_deadline->start(m_limit);
    m_process->start(m_launched ? launcher : program, arguments); // may end at once, through OnErrorOccurred
}

void ChangeCommand::OnReadyRead()
{
    // Read all of it, so that a talkative command never blocks on a full pipe; keep the start.
    const QByteArray chunk = m_process->readAll();
    m_output.append(chunk.left(MaxOutput - m_output.size()));
}

void ChangeCommand::OnFinished(int exitCode, int exitStatus)
{
    OnReadyRead();
    if (m_killed)
        end(false, QStringLiteral("the command was killed after %1 s").arg(m_limit.count() / 1000.0));
    else if (exitStatus == QProcess::CrashExit)
        end(false, QStringLiteral("the command crashed"));
    else if (m_launched && exitCode == LauncherCannotStart && m_output.startsWith(LauncherPrefix) &&
             m_output.indexOf('\n') == m_output.size() - 1) {
        const QByteArray reason = std::exchange(m_output, {}).sliced(qsizetype(sizeof LauncherPrefix - 1));
        end(false,
            QStringLiteral("the command could not be started: ") + QString::fromLocal8Bit(reason.trimmed()));
    } else if (exitCode != 0)
        end(false, QStringLiteral("the command exited with status %1").arg(exitCode));
    else
        end(true, {});
}

void ChangeCommand::OnErrorOccurred(int error)
{
    // A crash comes with finished as well; only a failed start ends here.
    if (error == QProcess::FailedToStart)
        end(false, QStringLiteral("the command could not be started: ") + m_process->errorString());
}

void ChangeCommand::end(bool ok, const QString &problem)
{
    m_deadline->stop();
    m_lastOutput = std::exchange(m_output, {});
    QProcess *done = std::exchange(m_process, nullptr);
    done->disconnect(this);
    done->deleteLater();
    // What came to this program from the command (its launcher killed, or none) ends before the status.
    const int left = m_orphans->sweep([this, ok, problem] { report(ok, problem); });
    if (left > 0)
        qCInfo(lcCommand) << "Ending" << left << "processes the command left behind";
}

void ChangeCommand::report(bool ok, const QString &problem)
{
    if (ok)
        qCInfo(lcCommand) << "The command on change finished";
    else
        qCWarning(lcCommand) << "The command on change failed:" << problem;
    // Quoted by the log, so that control characters in it stay visible as escapes.
    if (!m_lastOutput.isEmpty())
        qCInfo(lcCommand) << "Its output:" << QString::fromLocal8Bit(m_lastOutput);
    const QString status = ok ? StatusFinished : QStringLiteral("Error: ") + problem;
    emit statusChanged(status);
    emit finished(ok, status);
    startPending();
}

void ChangeCommand::killGroup()
{
#ifdef Q_OS_UNIX
    const qint64 pid = m_process ? m_process->processId() : 0;
    if (pid > 0)
        ::kill(pid_t(-pid), SIGKILL);
#endif
}

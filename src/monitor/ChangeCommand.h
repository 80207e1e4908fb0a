#pragma once

#include "IpSnapshot.h"
#include "Orphans.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

class QProcess;
class QTimer;

/// The user's command run after an address change: split like QProcess::splitCommand, started
/// without a shell, with the addresses in its environment (NETQUILL_INTERNAL, NETQUILL_EXTERNAL,
/// NETQUILL_OLD_INTERNAL, NETQUILL_OLD_EXTERNAL, NETQUILL_SOURCE). One runs at a time: a change while
/// one runs is run after it, with the newest addresses only. On Linux it runs under netquill-launcher
/// beside the program, which ends what the command leaves running when it ends or is killed at the
/// time limit. In a program that adopts orphans (Orphans::adopt, the service), what comes to it from a
/// launcher killed outright, or from a command run without one, is ended before the status is told;
/// elsewhere, without the launcher, only its process group is ended, and only at the time limit.
class ChangeCommand : public QObject {
    Q_OBJECT
public:
    struct Inputs {
        IpSnapshot current;
        IpSnapshot old;
        QString source; // the source that answered, as shown
        /// The IPv6 track's, while IPv4 and IPv6 are followed apart.
        std::optional<IpSnapshot> current6 = std::nullopt, old6 = std::nullopt;
    };
    static constexpr std::chrono::milliseconds DefaultTimeLimit{60'000};
    /// The output kept for the log and the dialog; the rest is read and dropped.
    static constexpr qsizetype MaxOutput = 4096;
    /// A longer command line (a damaged settings file) is not run.
    static constexpr qsizetype MaxCommandLength = 4096;

    static inline const QString StatusFinished = QStringLiteral("Command finished");
    /// How long the launcher may take to end the command and what it started before it is killed.
    static constexpr std::chrono::milliseconds LauncherStopTime{5'000};

    explicit ChangeCommand(QObject *parent = nullptr);
    ~ChangeCommand() override;

    void setTimeLimit(std::chrono::milliseconds limit) { m_limit = limit; }

    /// Why the command line is not run with these addresses; empty when it is. An empty command line
    /// gives "the command line is empty".
    static QString whyNot(const QString &commandLine, const Inputs &inputs);
    /// Runs the command line soon (from the event loop), or after the running one. False when nothing
    /// will run: an empty command line (quietly) or one whyNot refuses (logged).
    bool Run(const QString &commandLine, const Inputs &inputs);

    /// A command runs or waits to run, or what it left is being ended.
    bool busy() const { return m_process != nullptr || m_pending.has_value() || m_orphans->busy(); }
    /// The first MaxOutput bytes of the last finished command's standard output and error, merged.
    QByteArray lastOutput() const { return m_lastOutput; }

signals:
    /// "Command finished", or "Error: " and what went wrong.
    void statusChanged(const QString &text);
    /// A command ended, or could not be started, with the status it told. busy() already tells whether
    /// another one follows.
    void finished(bool ok, const QString &status);

private:
    struct Job {
        QString commandLine;
        Inputs inputs;
    };
    void startPending();
    void start(const Job &job);
    void OnReadyRead();
    void OnFinished(int exitCode, int exitStatus);
    void OnErrorOccurred(int error);
    void end(bool ok, const QString &problem);
    void report(bool ok, const QString &problem);
    void killGroup();

    std::chrono::milliseconds m_limit = DefaultTimeLimit;
    QProcess *m_process = nullptr;
    QTimer *m_deadline;
    Orphans *m_orphans;
    std::optional<Job> m_pending;
    QByteArray m_output;
    QByteArray m_lastOutput;
    bool m_killed = false;
    bool m_launched = false; // under the launcher
};

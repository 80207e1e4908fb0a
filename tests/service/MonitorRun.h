#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

/// netquill-monitor as a service manager starts it: the test's config folder, the address page given,
/// no display and no session bus.
inline QProcessEnvironment monitorEnvironment(const QString &configHome, const QString &ipHost)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "CREDENTIALS_DIRECTORY"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("NETQUILL_IP_HOST"), ipHost);
    return env;
}

inline QString monitorProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/netquill-monitor");
}

struct MonitorRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs it to its end (a minute at most) and keeps what it wrote. The test's own servers go on
/// answering meanwhile.
inline MonitorRun runMonitor(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(monitorProgram(), arguments);
    MonitorRun run;
    const QDeadlineTimer deadline(60000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(10);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

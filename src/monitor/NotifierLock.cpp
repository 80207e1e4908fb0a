#include "NotifierLock.h"

#include "SettingsLog.h"
#include "WholeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace {
// Why `path` cannot be written in, as the system says; empty when it can.
QString notWritable(const QString &path, int mode)
{
#ifdef Q_OS_UNIX
    if (::access(QFile::encodeName(path).constData(), mode) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
#else
    Q_UNUSED(mode);
    if (!QFileInfo(path).isWritable())
        return QStringLiteral("not writable");
#endif
    return {};
}

// Why the lock file cannot be made, from what its folder and the folders above it are.
QString whyNotMade(const QString &fileName)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    QString existing = folder, firstMissing;
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        firstMissing = std::exchange(existing, parent);
    }
    if (!QFileInfo(existing).isDir())
        return existing + QStringLiteral(" is not a folder");
#ifdef Q_OS_UNIX
    constexpr int WriteIn = W_OK | X_OK, Write = W_OK;
#else
    constexpr int WriteIn = 0, Write = 0;
#endif
    if (const QString why = notWritable(existing, WriteIn); !why.isEmpty()) {
        return firstMissing.isEmpty()
                   ? QStringLiteral("cannot write in the folder ") + folder + QStringLiteral(": ") + why
                   : QStringLiteral("cannot create the folder ") + firstMissing + QStringLiteral(": ") + why;
    }
    if (!firstMissing.isEmpty())
        return QStringLiteral("cannot create the folder ") + firstMissing;
    const QFileInfo file(fileName);
    if (file.isDir())
        return fileName + QStringLiteral(" is a folder");
    if (file.exists()) {
        if (const QString why = notWritable(fileName, Write); !why.isEmpty())
            return QStringLiteral("cannot write ") + fileName + QStringLiteral(": ") + why;
    }
    return {};
}

QString describe(const QLockFile &lock, const QString &fileName)
{
    switch (lock.error()) {
    case QLockFile::NoError:
        return {};
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host, application;
        if (lock.getLockInfo(&pid, &host, &application)) {
            return QStringLiteral("held by %1, process %2 on %3")
                .arg(application.isEmpty() ? QStringLiteral("another program") : application)
                .arg(pid)
                .arg(host);
        }
        break; // also what a folder in its place gives
    }
    case QLockFile::PermissionError:
    case QLockFile::UnknownError:
        break;
    }
    if (const QString why = whyNotMade(fileName); !why.isEmpty())
        return why;
    switch (lock.error()) {
    case QLockFile::LockFailedError:
        return QStringLiteral("held by another process");
    case QLockFile::PermissionError:
        return QStringLiteral("permission denied");
    default:
        return QStringLiteral("cannot create it, for a reason not known");
    }
}
} // namespace

NotifierLock::NotifierLock(const QString &settingsFolder)
    : m_fileName(QDir(settingsFolder).filePath(FileName)), m_lock(m_fileName)
{
}

bool NotifierLock::acquire(int timeoutMs)
{
    if (m_lock.isLocked())
        return true;
    if (QString error; !WholeFile::makeFolders(QFileInfo(m_fileName).absolutePath(), error))
        qCWarning(lcSettings).noquote() << "No notifier lock:" << error;
    return m_lock.tryLock(timeoutMs);
}

bool NotifierLock::heldElsewhere() const
{
    if (m_lock.isLocked() || !QFileInfo::exists(m_fileName))
        return false;
    QLockFile probe(m_fileName);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    if (probe.error() != QLockFile::LockFailedError) {
        // Nobody can hold a lock that cannot be made: this process mails.
        qCWarning(lcSettings).noquote()
            << "Cannot look at" << m_fileName << "-" << describe(probe, m_fileName);
        return false;
    }
    qint64 pid = 0;
    QString host, application;
    // Another lock object of this very process does not count.
    return !probe.getLockInfo(&pid, &host, &application) || pid != QCoreApplication::applicationPid();
}

QString NotifierLock::errorText() const
{
    return describe(m_lock, m_fileName);
}

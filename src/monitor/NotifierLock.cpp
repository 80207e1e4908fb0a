#include "NotifierLock.h"

#include "SettingsLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

NotifierLock::NotifierLock(const QString &settingsFolder)
    : m_fileName(QDir(settingsFolder).filePath(FileName)), m_lock(m_fileName)
{
}

bool NotifierLock::acquire(int timeoutMs)
{
    if (m_lock.isLocked())
        return true;
    QDir().mkpath(QFileInfo(m_fileName).absolutePath());
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
        qCWarning(lcSettings).noquote() << "Cannot look at" << m_fileName << "- error" << probe.error();
        return false;
    }
    qint64 pid = 0;
    QString host, application;
    // Another lock object of this very process does not count.
    return !probe.getLockInfo(&pid, &host, &application) || pid != QCoreApplication::applicationPid();
}

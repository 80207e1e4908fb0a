#pragma once

#include <QLockFile>
#include <QString>

/// Who mails the address changes of this user. netquill-monitor holds the lock for as long as it runs;
/// the desktop program, finding it held by another live process, leaves the mailing to it, so that a
/// change seen by both is mailed once. A lock left by a process that died is taken over.
class NotifierLock {
public:
    /// The lock file in the settings folder.
    explicit NotifierLock(const QString &settingsFolder);

    static inline const QString FileName = QStringLiteral("notifier.lock");

    /// Takes the lock until this object goes; false when another live process holds it or the file
    /// cannot be made (error() says which).
    bool acquire(int timeoutMs = 0);
    bool held() const { return m_lock.isLocked(); }
    /// Another live process holds the lock. Looking briefly takes and gives back a lock nobody holds.
    bool heldElsewhere() const;
    QLockFile::LockError error() const { return m_lock.error(); }
    /// Why acquire failed, in words: which process holds the lock, or why the file cannot be made
    /// ("cannot write in the folder …: Read-only file system", "… is not a folder"). Empty when it
    /// did not fail.
    QString errorText() const;
    QString fileName() const { return m_fileName; }

private:
    QString m_fileName;
    QLockFile m_lock;
};

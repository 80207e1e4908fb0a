#pragma once

#include <QString>

/// An advisory lock on a file beside the data it guards, taken by every process that writes that data
/// (the desktop program and netquill-monitor share the settings and the history). An flock: the kernel
/// lets go of it when its holder dies, so a killed process never leaves the data locked. Held until
/// this object goes.
class FileLock {
public:
    enum Result {
        Held,
        Unavailable, ///< this folder gives no lock: read-only, a lock file this user may not open, no locks
        Failed,      ///< any other error, or another process held it all the time
    };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    /// Waits up to waitMs for the lock, making lockFile when it is missing; why says what went wrong.
    Result take(const QString &lockFile, int waitMs, QString &why);

private:
    int m_fd = -1;
};

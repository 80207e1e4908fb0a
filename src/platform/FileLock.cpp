#include "FileLock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

FileLock::~FileLock()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
#endif
}

FileLock::Result FileLock::take(const QString &lockFile, int waitMs, QString &why)
{
#ifdef Q_OS_UNIX
    const auto systemError = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    // Read-only is enough for flock, and lets a lock file another user made serve too; O_NONBLOCK
    // keeps a named pipe put there from holding the open.
    m_fd = ::open(QFile::encodeName(lockFile).constData(),
                  O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (m_fd < 0) {
        const int error = errno;
        why = QStringLiteral("cannot open ") + lockFile + QStringLiteral(": ") + systemError(error);
        return error == EACCES || error == EPERM || error == EROFS ? Unavailable : Failed;
    }
    QElapsedTimer waited;
    waited.start();
    for (int pauseMs = 1;; pauseMs = std::min(pauseMs * 2, 16)) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return Held;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK) {
            why = QStringLiteral("cannot lock ") + lockFile + QStringLiteral(": ") + systemError(error);
            ::close(m_fd);
            m_fd = -1;
            return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL ? Unavailable
                                                                                                 : Failed;
        }
        if (waited.elapsed() >= waitMs) {
            why = QStringLiteral("another process has held %1 for %2 s").arg(lockFile).arg(waitMs / 1000.0);
            ::close(m_fd);
            m_fd = -1;
            return Failed;
        }
        QThread::msleep(pauseMs);
    }
#else
    Q_UNUSED(waitMs)
    why = QStringLiteral("no lock beside ") + lockFile + QStringLiteral(" on this system");
    return Unavailable;
#endif
}

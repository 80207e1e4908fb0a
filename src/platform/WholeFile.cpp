#include "WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_UNIX
QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
#endif

// Every byte, then the sync, each checked: a short write is followed by one that fails with the cause
// (ENOSPC, EFBIG).
bool writeAll(QFileDevice &file, const QByteArray &data, QString &error)
{
    for (qint64 done = 0; done < data.size();) {
        const qint64 written = file.write(data.constData() + done, data.size() - done);
        if (written <= 0) {
            error = file.errorString();
            return false;
        }
        done += written;
    }
    // A buffered file holds the last part until it is flushed: before the sync, not after the rename.
    if (!file.flush()) {
        error = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        error = systemError(errno);
        return false;
    }
#endif
    return true;
}
} // namespace

QString WholeFile::notRegular(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists() || info.isFile())
        return {};
    return info.fileName() +
           (info.isDir() ? QStringLiteral(" is a folder") : QStringLiteral(" is not a regular file"));
}

bool WholeFile::makeFolders(const QString &folder, QString &error)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (QFileInfo(path).isDir())
        return true;
    QStringList missing{path};
    for (QString up = QFileInfo(path).path(); !QFileInfo::exists(up) && up != missing.last();
         up = QFileInfo(up).path())
        missing.append(up);
    for (auto it = missing.crbegin(); it != missing.crend(); ++it) {
#ifdef Q_OS_UNIX
        const int made = ::mkdir(QFile::encodeName(*it).constData(), 0700);
        const int cause = errno;
        // Another process may make it at the same moment.
        if (made != 0 && !(cause == EEXIST && QFileInfo(*it).isDir())) {
            error =
                QStringLiteral("cannot create the folder ") + *it + QStringLiteral(": ") + systemError(cause);
            return false;
        }
#else
        if (!QDir().mkpath(*it)) {
            error = QStringLiteral("cannot create the folder ") + *it;
            return false;
        }
#endif
    }
    return true;
}

std::optional<QByteArray> WholeFile::read(const QString &fileName, qint64 limit, QString &error)
{
    error = notRegular(fileName);
    if (!error.isEmpty())
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return std::nullopt;
    }
    // Checked before and after: the file may grow while it is read.
    const auto tooLarge = [&] {
        const bool mebibytes = limit % (1 << 20) == 0;
        error = QStringLiteral("%1 is larger than %2")
                    .arg(QFileInfo(fileName).fileName(), mebibytes ? QStringLiteral("%1 MiB").arg(limit >> 20)
                                                                   : QStringLiteral("%1 bytes").arg(limit));
    };
    if (file.size() > limit) {
        tooLarge();
        return std::nullopt;
    }
    QByteArray data = readUpTo(file, limit + 1);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    if (data.size() > limit) {
        tooLarge();
        return std::nullopt;
    }
    return data;
}

QByteArray WholeFile::readUpTo(QFileDevice &file, qint64 maxBytes)
{
    constexpr qint64 Chunk = 64 * 1024;
    QByteArray data;
    // What the file says it holds and one byte more, to see its end, or that it grew.
    qint64 step = qMin(maxBytes, qMax<qint64>(0, file.size() - file.pos()) + 1);
    while (step > 0) {
        const qsizetype had = data.size();
        // Exactly: a resize alone past the capacity would round it up to a power of two.
        data.reserve(had + step);
        data.resize(had + step);
        const qint64 got = file.read(data.data() + had, step);
        data.resize(had + qMax<qint64>(got, 0));
        // QFile reads until the count or the end, so a short read is the end.
        if (got < step)
            break;
        step = qMin(Chunk, maxBytes - data.size());
    }
    return data;
}

bool WholeFile::write(const QString &fileName, const QByteArray &data, QString &error,
                      std::optional<QFileDevice::Permissions> mode)
{
    const QString folder = QFileInfo(fileName).absolutePath();
    if (!mode && !makeFolders(folder, error))
        return false;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    if (mode && !file.setPermissions(*mode)) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!writeAll(file, data, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool WholeFile::replaceEntry(const QString &fileName, const QByteArray &data, QFileDevice::Permissions mode,
                             QString &error)
{
#ifdef Q_OS_UNIX
    // Made anew (O_EXCL) under a name of its own beside the old file; rename() then replaces the
    // directory entry itself, whatever it is, and never writes through a link's last component.
    QTemporaryFile file(fileName + QStringLiteral(".XXXXXX"));
    if (!file.open() || !file.setPermissions(mode)) {
        error = file.errorString();
        return false;
    }
    if (!writeAll(file, data, error))
        return false;
    if (std::rename(QFile::encodeName(file.fileName()).constData(),
                    QFile::encodeName(fileName).constData()) != 0) {
        error = systemError(errno);
        return false;
    }
    file.setAutoRemove(false);
    return true;
#else
    return write(fileName, data, error, mode);
#endif
}

std::optional<WholeFile::Entry> WholeFile::readEntry(const QString &fileName, qint64 limit, QString &error)
{
    Entry entry;
#ifdef Q_OS_UNIX
    // Non-blocking: a named pipe put there must not hold the open until something writes to it.
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        entry.missing = code == ENOENT;
        if (entry.missing)
            return entry;
        error = code == ELOOP ? QFileInfo(fileName).fileName() + QStringLiteral(" is a symbolic link")
                              : systemError(code);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error = QFileInfo(fileName).fileName() + (S_ISDIR(status.st_mode)
                                                      ? QStringLiteral(" is a folder")
                                                      : QStringLiteral(" is not a regular file"));
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = file.errorString();
        return std::nullopt;
    }
    entry.data = readUpTo(file, limit + 1);
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
#else
    if (QFileInfo(fileName).isSymLink()) {
        error = QFileInfo(fileName).fileName() + QStringLiteral(" is a symbolic link");
        return std::nullopt;
    }
    entry.missing = !QFileInfo::exists(fileName);
    if (entry.missing)
        return entry;
    error = notRegular(fileName);
    QFile file(fileName);
    if (!error.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        if (error.isEmpty())
            error = file.errorString();
        return std::nullopt;
    }
    entry.data = readUpTo(file, limit + 1);
#endif
    entry.cut = entry.data.size() > limit;
    if (entry.cut)
        entry.data.truncate(limit);
    return entry;
}

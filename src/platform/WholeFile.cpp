#include "WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

QString WholeFile::notRegular(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists() || info.isFile())
        return {};
    return info.fileName() +
           (info.isDir() ? QStringLiteral(" is a folder") : QStringLiteral(" is not a regular file"));
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
    if (!mode && !QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the folder ") + folder;
        return false;
    }
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
    for (qint64 done = 0; done < data.size();) {
        // A short write is followed by one that fails with the cause (ENOSPC, EFBIG).
        const qint64 written = file.write(data.constData() + done, data.size() - done);
        if (written <= 0) {
            error = file.errorString();
            file.cancelWriting();
            return false;
        }
        done += written;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return false;
    }
#endif
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

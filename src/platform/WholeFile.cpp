#include "WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
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
            error = QStringLiteral("cannot create the folder ") + *it + QStringLiteral(": ") +
                    QString::fromLocal8Bit(std::strerror(cause));
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
    if (!file.open(QIODevice::ReadOnly)) {
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
    QByteArray data = file.read(limit + 1);
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

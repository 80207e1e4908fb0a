#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace WholeFile {
/// Replaces the file with `data`: written beside it, every write and the sync checked, and renamed over
/// it only once all of it is on the disk. On any failure the old file stays as it was and `error` says
/// why. (A buffered QSaveFile fails only in its final flush, and commit() then still renames the cut
/// file over the old one; its own sync ignores a failure.)
/// With `mode`, the new file has those permissions before it takes the old one's place, whatever the
/// umask, and the folder must exist already.
bool write(const QString &fileName, const QByteArray &data, QString &error,
           std::optional<QFileDevice::Permissions> mode = std::nullopt);
/// Why a file the user may have replaced must not be opened for reading: it exists but is no regular
/// file (a named pipe blocks its reader until something writes to it; a device may never end). Empty
/// for a regular file, a link to one, or nothing at all.
QString notRegular(const QString &fileName);
/// The whole of a regular file of at most `limit` bytes, or nullopt with `error` saying why not
/// (missing, not a regular file, larger, unreadable).
std::optional<QByteArray> read(const QString &fileName, qint64 limit, QString &error);
/// At most `maxBytes` from the file's position on, reserving no more than what it holds plus 64 KiB
/// however large `maxBytes` is (QIODevice::read(maxBytes) reserves all of it first). A file that grows
/// while it is read, or reports no size (as those in /proc), is read on up to `maxBytes`. Errors stay
/// in file.error().
QByteArray readUpTo(QFileDevice &file, qint64 maxBytes);
} // namespace WholeFile

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
/// Makes `folder` and every missing folder above it, each mode 0700 whatever the umask (XDG asks it
/// of the folders a program makes, and ours hold mail settings and addresses). True when it is a
/// folder afterwards; else `error` says which folder could not be made and why.
bool makeFolders(const QString &folder, QString &error);
/// Like write(), but the new file takes the place of the name itself: a symbolic link there is replaced,
/// never followed (write() resolves one and replaces its target). The folder must exist.
bool replaceEntry(const QString &fileName, const QByteArray &data, QFileDevice::Permissions mode,
                  QString &error);
/// Why a file the user may have replaced must not be opened for reading: it exists but is no regular
/// file (a named pipe blocks its reader until something writes to it; a device may never end). Empty
/// for a regular file, a link to one, or nothing at all.
QString notRegular(const QString &fileName);
/// The whole of a regular file of at most `limit` bytes, or nullopt with `error` saying why not
/// (missing, not a regular file, larger, unreadable).
std::optional<QByteArray> read(const QString &fileName, qint64 limit, QString &error);

/// What readEntry found under a name.
struct Entry {
    bool missing = false; ///< nothing has the name
    QByteArray data;      ///< the file's first `limit` bytes
    bool cut = false;     ///< it holds more than those
};
/// The regular file under that very name, never a symbolic link's target: the open itself refuses a
/// link as the last component, so none can be swapped in between a check and the read. Nullopt with
/// `error` saying why (a link, not a regular file, unreadable). Folders on the way may be links.
std::optional<Entry> readEntry(const QString &fileName, qint64 limit, QString &error);
/// At most `maxBytes` from the file's position on, reserving no more than what it holds plus 64 KiB
/// however large `maxBytes` is (QIODevice::read(maxBytes) reserves all of it first). A file that grows
/// while it is read, or reports no size (as those in /proc), is read on up to `maxBytes`. Errors stay
/// in file.error().
QByteArray readUpTo(QFileDevice &file, qint64 maxBytes);
} // namespace WholeFile

#pragma once

#include <QByteArray>
#include <QString>

namespace WholeFile {
/// Replaces the file with `data`: written beside it, every write and the sync checked, and renamed over
/// it only once all of it is on the disk. On any failure the old file stays as it was and `error` says
/// why. (A buffered QSaveFile fails only in its final flush, and commit() then still renames the cut
/// file over the old one; its own sync ignores a failure.)
bool write(const QString &fileName, const QByteArray &data, QString &error);
} // namespace WholeFile

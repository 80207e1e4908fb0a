#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUrl>

/// The sources that asked for a pause (HTTP 429 or 503 with Retry-After), each with when it ends. With a
/// file, kept there too, so that the next run honours them: a cron job's --once, a restart, the other
/// program. The file may be edited or damaged: one that cannot be read whole is ignored (logged), and no
/// pause it holds lasts more than a day from when it is read.
class SourcePauses {
public:
    static constexpr qint64 MaxSeconds = 24 * 3600;
    /// A larger file is not read.
    static constexpr qint64 MaxBytes = 64 * 1024;

    /// Without a file name, the pauses are kept in memory only.
    explicit SourcePauses(QString path = {});
    QString path() const { return m_path; }

    /// Until when (UTC) the source is left aside; invalid when it is not.
    QDateTime until(const QUrl &url) const { return m_until.value(url); }
    /// Takes in the pauses the file holds, another run's included.
    void load();
    /// Leaves the source aside for `seconds` from now, a day at most, and returns until when. With
    /// `store`, the file gets it too (a failure is logged).
    QDateTime pause(const QUrl &url, qint64 seconds, bool store);

private:
    QString m_path;
    QHash<QUrl, QDateTime> m_until;
};

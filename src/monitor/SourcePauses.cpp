#include "SourcePauses.h"

#include "FileLock.h"
#include "LookupLog.h"
#include "WholeFile.h"

#include <QFileInfo>

#include <algorithm>
#include <map>

// One line a source: when its pause ends, in UTC, and its address.
//   2026-12-08T07:13:59Z https://api.ipify.org

SourcePauses::SourcePauses(QString path) : m_path(std::move(path)) {}

void SourcePauses::load()
{
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return;
    QString why;
    const std::optional<QByteArray> data = WholeFile::read(m_path, MaxBytes, why);
    if (!data) {
        qCWarning(lcLookup).noquote() << "cannot read the sources' pauses from" << m_path << "-" << why;
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<std::pair<QUrl, QDateTime>> read;
    const QList<QByteArray> lines = data->split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QByteArray &line = lines.at(n);
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        QDateTime until = QDateTime::fromString(QString::fromLatin1(line.left(space)), Qt::ISODate);
        const QUrl url(QString::fromUtf8(line.mid(space + 1)), QUrl::StrictMode);
        if (space < 0 || !until.isValid() || until.timeSpec() != Qt::UTC || !url.isValid() ||
            url.scheme().isEmpty()) {
            qCWarning(lcLookup).noquote() << "ignoring the sources' pauses in" << m_path << "- line" << n + 1
                                          << "is not a time in UTC and an address";
            return;
        }
        // Nothing asks for more: a later end is the file's damage, or a clock set back since.
        until = std::min(until, now.addSecs(MaxSeconds));
        if (until > now)
            read.append({url, until});
    }
    // The later end wins, whoever stored it.
    for (const auto &[url, until] : read) {
        if (!m_until.contains(url) || m_until.value(url) < until)
            m_until.insert(url, until);
    }
}

QDateTime SourcePauses::pause(const QUrl &url, qint64 seconds, bool store)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime until = now.addSecs(std::clamp<qint64>(seconds, 0, MaxSeconds));
    m_until.insert(url, until);
    if (!store || m_path.isEmpty())
        return until;
    // Under the lock, and what the file holds now read in again, so that a pause the other program
    // stored since this lookup began is kept. Without a lock the write goes ahead all the same.
    FileLock lock;
    QString why;
    if (WholeFile::makeFolders(QFileInfo(m_path).path(), why) &&
        lock.take(m_path + QStringLiteral(".lock"), 2000, why) == FileLock::Failed)
        qCWarning(lcLookup).noquote() << "storing the pauses in" << m_path << "without a lock -" << why;
    load();
    // Sorted, so that the file reads the same for the same pauses.
    std::map<QString, QDateTime> lines;
    for (auto it = m_until.cbegin(); it != m_until.cend(); ++it) {
        if (it.value() > now)
            lines.emplace(it.key().toString(QUrl::FullyEncoded), it.value());
    }
    QByteArray data;
    for (const auto &[address, end] : lines)
        data += end.toString(Qt::ISODate).toLatin1() + ' ' + address.toUtf8() + '\n';
    if (!WholeFile::write(m_path, data, why))
        qCWarning(lcLookup).noquote()
            << "cannot store the pause of" << url.toDisplayString() << "in" << m_path << "-" << why;
    return until;
}

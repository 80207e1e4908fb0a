#pragma once

#include "NoticeChannel.h"

#include <QList>
#include <QObject>
#include <QPointer>

/// Hands one notice to every channel at once and tries a channel whose send failed again after each of
/// the retry delays in turn (a few minutes in all by default), so that one channel failing or hanging
/// never holds back another. Each notice ends, per channel, with one ended.
class NoticeFanOut : public QObject {
    Q_OBJECT
public:
    explicit NoticeFanOut(QObject *parent = nullptr);

    /// A channel and the name it is known by in the log, the history and the metrics; not owned.
    void add(const QString &name, NoticeChannel *channel);
    void clear() { m_channels.clear(); }
    /// Waits before the second, third... try; the default is 15 s, 1 min and 3 min.
    void setRetryDelays(const QList<int> &milliseconds) { m_retryDelaysMs = milliseconds; }
    void send(const Notice &notice);
    /// To one channel only; false when none has the name.
    bool sendTo(const QString &name, const Notice &notice);

signals:
    /// A channel's last word on a notice: delivered, or failed at its last try with the cause.
    void ended(const QString &channel, bool delivered, const QString &cause, int tries);

private:
    struct Entry {
        QString name;
        QPointer<NoticeChannel> channel;
    };
    void attempt(const Entry &entry, const Notice &notice, int tries);

    QList<Entry> m_channels;
    QList<int> m_retryDelaysMs{15000, 60000, 180000};
};

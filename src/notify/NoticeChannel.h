#pragma once

#include "Notice.h"

#include <QObject>

/// Somewhere a notice can go. Every send returns its job number at once and ends, later, with exactly
/// one finished carrying that number, as the mail does.
class NoticeChannel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual quint64 send(const Notice &notice) = 0;

signals:
    void finished(const ChannelResult &result);

protected:
    quint64 nextJob() { return ++m_lastJob; }
    /// Ends `job` as not delivered, after send has returned, so that the caller knows the job by then.
    quint64 refuse(quint64 job, const QString &cause)
    {
        QMetaObject::invokeMethod(
            this,
            [this, job, cause] {
                emit finished({job, false, cause});
            },
            Qt::QueuedConnection);
        return job;
    }

private:
    quint64 m_lastJob = 0;
};

#pragma once

#include "ChannelConfig.h"
#include "Notice.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <functional>

class ChannelSecrets;
class ChannelSender;
class QThread;

/// The notice channels the user set up beyond the mail, the command and the desktop notification:
/// ntfy, Gotify, webhooks, Apprise and health pings. A change's notice goes to every one not paused,
/// at once, each with its own retries; a ping is asked after every lookup that answered, and its failure
/// form when an outage starts. The last result of each is kept in a file, for the window and
/// `--print --json` of another process.
class NoticeChannels : public QObject {
    Q_OBJECT
public:
    struct Result {
        QDateTime when; // UTC
        bool delivered = false;
        QString cause;
    };

    /// resultsFile: where the last results are kept (empty: nowhere).
    NoticeChannels(ChannelSecrets &secrets, QString resultsFile, QObject *parent = nullptr);
    /// Ends the channels' thread and waits for the results still being written.
    ~NoticeChannels() override;

    void setChannels(const QList<ChannelConfig> &channels);
    void setRetryDelays(const QList<int> &milliseconds);

    /// To every channel not paused: a change (or a test) to those that are no ping; that a lookup
    /// answered (Alive) or an outage began (Failing) to the pings. All of them in one hand-over to the
    /// channels' thread, where the secrets are known.
    void Send(const QList<Notice> &notices);
    /// One test notice through one channel, paused or not, without retries; tested follows. False
    /// when no channel has the name.
    bool Test(const QString &name, const Notice &notice);

    /// The last results as the file holds them, by channel name.
    static QHash<QString, Result> readResults(const QString &path);
    /// The file's, with this process's newer ones over them (their write may still be under way).
    QHash<QString, Result> results() const;
    /// Notices not ended yet, retries included.
    int pending() const { return m_pending; }

signals:
    /// A notice's last word from a channel, after its retries.
    void ended(const QString &name, bool delivered, const QString &cause, int tries);
    void tested(const QString &name, bool delivered, const QString &cause);
    /// The last notice under way ended.
    void idle();

private:
    /// Runs `work` on the channels' thread.
    void OnSender(std::function<void(ChannelSender &)> work);
    void Keep(const QString &name, bool delivered, const QString &cause);
    /// On the writer thread: the results kept since the last write go into the file together.
    void WriteResults();

    ChannelSecrets &m_secrets;
    QString m_resultsFile;
    QList<ChannelConfig> m_configs;
    QThread *m_thread;
    ChannelSender *m_sender; // lives on m_thread
    int m_pending = 0;
    int m_generation = 0;            // setChannels calls, so that a secret read for an old list sends nothing
    QHash<QString, Result> m_latest; // this process's last result of each channel
    // Shared with the writer thread: what is still to be written, and the channels that still exist.
    QMutex m_unwrittenLock;
    QHash<QString, Result> m_unwritten;
    QSet<QString> m_names;
    bool m_writeQueued = false;
    QThreadPool m_writer; // one thread: the writes reach the file in the order kept
};

#pragma once

#include "ChannelConfig.h"
#include "Notice.h"

#include <QHash>
#include <QObject>

class NoticeChannel;
class NoticeFanOut;

/// The channels themselves, on a thread of their own (as the mail session is): their requests, replies
/// and retries never take the window's thread. Driven by NoticeChannels through queued calls; every
/// notice it is handed ends with one ended, carrying the list's generation it was sent under.
class ChannelSender : public QObject {
    Q_OBJECT
public:
    /// How one notice ended through one channel.
    struct Outcome {
        QString name;
        bool delivered = false;
        QString cause;
        int tries = 0;
        int generation = 0;
    };

    explicit ChannelSender(QObject *parent = nullptr);

    /// Built anew: a send under way ends with its channel, and its retries with it, unheard.
    void setChannels(const QList<ChannelConfig> &channels, int generation);
    void setRetryDelays(const QList<int> &milliseconds);
    /// Each notice to each channel given with its secret.
    struct Send {
        ChannelConfig config;
        QString secret;
        Notice notice;
    };
    void send(const QList<Send> &sends);
    /// One try, without retries; tested follows.
    void test(const ChannelConfig &config, const QString &secret, const Notice &notice);

signals:
    /// The notices that ended since the last report, gathered so that the window's thread takes them
    /// in one go.
    void ended(const QList<ChannelSender::Outcome> &outcomes);
    void tested(const QString &name, bool delivered, const QString &cause);

private:
    NoticeChannel *configured(const ChannelConfig &config, const QString &secret);
    void Report(Outcome outcome);

    QHash<QString, NoticeChannel *> m_channels; // by name, owned
    NoticeFanOut *m_fanOut;
    int m_generation = 0;
    QList<Outcome> m_outcomes; // not reported yet
};
Q_DECLARE_METATYPE(QList<ChannelSender::Outcome>)

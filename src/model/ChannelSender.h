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
    explicit ChannelSender(QObject *parent = nullptr);

    /// Built anew: a send under way ends with its channel, and its retries with it, unheard.
    void setChannels(const QList<ChannelConfig> &channels, int generation);
    void setRetryDelays(const QList<int> &milliseconds);
    void send(const ChannelConfig &config, const QString &secret, const Notice &notice);
    /// One try, without retries; tested follows.
    void test(const ChannelConfig &config, const QString &secret, const Notice &notice);

signals:
    void ended(const QString &name, bool delivered, const QString &cause, int tries, int generation);
    void tested(const QString &name, bool delivered, const QString &cause);

private:
    NoticeChannel *configured(const ChannelConfig &config, const QString &secret);

    QHash<QString, NoticeChannel *> m_channels; // by name, owned
    NoticeFanOut *m_fanOut;
    int m_generation = 0;
};

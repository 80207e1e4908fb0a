#include "NoticeFanOut.h"

#include "MailLog.h"

#include <QTimer>

#include <memory>

NoticeFanOut::NoticeFanOut(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<ChannelResult>();
}

void NoticeFanOut::add(const QString &name, NoticeChannel *channel)
{
    m_channels.append({name, channel});
}

void NoticeFanOut::send(const Notice &notice)
{
    for (const Entry &entry : std::as_const(m_channels))
        attempt(entry, notice, 1);
}

bool NoticeFanOut::sendTo(const QString &name, const Notice &notice)
{
    for (const Entry &entry : std::as_const(m_channels))
        if (entry.name == name && entry.channel) {
            attempt(entry, notice, 1);
            return true;
        }
    return false;
}

void NoticeFanOut::attempt(const Entry &entry, const Notice &notice, int tries)
{
    NoticeChannel *channel = entry.channel;
    if (!channel)
        return;
    const quint64 job = channel->send(notice);
    // One connection a send, gone with its result: a channel's other jobs are not this one's.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection =
        connect(channel, &NoticeChannel::finished, this,
                [this, entry, notice, tries, job, connection](const ChannelResult &result) {
                    if (result.job != job)
                        return;
                    disconnect(*connection);
                    if (result.delivered || tries > m_retryDelaysMs.size()) {
                        if (!result.delivered)
                            qCWarning(lcMail).noquote() << "Notice through" << entry.name << "failed after"
                                                        << tries << "tries:" << result.cause;
                        emit ended(entry.name, result.delivered, result.cause, tries);
                        return;
                    }
                    const int delay = m_retryDelaysMs.at(tries - 1);
                    qCInfo(lcMail).noquote() << "Notice through" << entry.name << "failed (" << result.cause
                                             << "); trying again in" << delay / 1000.0 << "s";
                    QTimer::singleShot(delay, this,
                                       [this, entry, notice, tries] { attempt(entry, notice, tries + 1); });
                });
}

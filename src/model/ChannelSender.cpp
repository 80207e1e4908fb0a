#include "ChannelSender.h"

#include "AppriseChannel.h"
#include "NoticeFanOut.h"
#include "WebChannel.h"

#include <QTimer>

#include <memory>

ChannelSender::ChannelSender(QObject *parent) : QObject(parent), m_fanOut(new NoticeFanOut(this))
{
    qRegisterMetaType<QList<ChannelSender::Outcome>>();
    connect(m_fanOut, &NoticeFanOut::ended, this,
            [this](const QString &name, bool delivered, const QString &cause, int tries) {
                Report({name, delivered, cause, tries, m_generation});
            });
}

void ChannelSender::setChannels(const QList<ChannelConfig> &channels, int generation)
{
    m_generation = generation;
    m_fanOut->clear();
    qDeleteAll(m_channels);
    m_channels.clear();
    for (const ChannelConfig &config : channels) {
        NoticeChannel *channel = nullptr;
        if (config.kind == ChannelConfig::Kind::Apprise)
            channel = new AppriseChannel({}, this);
        else
            channel = new WebChannel(config.web({}), this);
        m_channels.insert(config.name, channel);
        m_fanOut->add(config.name, channel);
    }
}

void ChannelSender::setRetryDelays(const QList<int> &milliseconds)
{
    m_fanOut->setRetryDelays(milliseconds);
}

NoticeChannel *ChannelSender::configured(const ChannelConfig &config, const QString &secret)
{
    NoticeChannel *channel = m_channels.value(config.name);
    if (auto *apprise = qobject_cast<AppriseChannel *>(channel))
        apprise->setUrls(ChannelConfig::appriseUrls(secret));
    else if (auto *web = qobject_cast<WebChannel *>(channel))
        web->setSettings(config.web(secret));
    return channel;
}

void ChannelSender::send(const QList<Send> &sends)
{
    for (const auto &[config, secret, notice] : sends)
        if (!configured(config, secret) || !m_fanOut->sendTo(config.name, notice))
            Report({config.name, false, QStringLiteral("the channel was removed"), 0, m_generation});
}

void ChannelSender::Report(Outcome outcome)
{
    m_outcomes.append(std::move(outcome));
    if (m_outcomes.size() == 1)
        QTimer::singleShot(0, this, [this] { emit ended(std::exchange(m_outcomes, {})); });
}

void ChannelSender::test(const ChannelConfig &config, const QString &secret, const Notice &notice)
{
    NoticeChannel *channel = configured(config, secret);
    if (!channel) {
        emit tested(config.name, false, QStringLiteral("the channel was removed"));
        return;
    }
    const quint64 job = channel->send(notice);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(channel, &NoticeChannel::finished, this,
                          [this, name = config.name, job, connection](const ChannelResult &result) {
                              if (result.job != job)
                                  return;
                              disconnect(*connection);
                              emit tested(name, result.delivered, result.cause);
                          });
}

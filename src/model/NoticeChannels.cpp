#include "NoticeChannels.h"

#include "AppriseChannel.h"
#include "ChannelSecrets.h"
#include "MailLog.h"
#include "NoticeFanOut.h"
#include "WebChannel.h"
#include "WholeFile.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace {
constexpr qint64 ResultsLimit = 256 * 1024;
} // namespace

NoticeChannels::NoticeChannels(ChannelSecrets &secrets, QString resultsFile, QObject *parent)
    : QObject(parent), m_secrets(secrets), m_resultsFile(std::move(resultsFile)),
      m_fanOut(new NoticeFanOut(this))
{
    m_writer.setMaxThreadCount(1);
    connect(m_fanOut, &NoticeFanOut::ended, this,
            [this](const QString &name, bool delivered, const QString &cause, int tries) {
                Keep(name, delivered, cause);
                emit ended(name, delivered, cause, tries);
                // One of a list replaced meanwhile was counted no more.
                if (m_pending > 0 && --m_pending == 0)
                    emit idle();
            });
}

NoticeChannels::~NoticeChannels()
{
    m_writer.waitForDone();
}

void NoticeChannels::setRetryDelays(const QList<int> &milliseconds)
{
    m_fanOut->setRetryDelays(milliseconds);
}

void NoticeChannels::setChannels(const QList<ChannelConfig> &channels)
{
    // Built anew: a send under way ends with its channel, and its retries with it.
    m_fanOut->clear();
    ++m_generation;
    if (std::exchange(m_pending, 0) > 0)
        emit idle();
    for (NoticeChannel *channel : std::as_const(m_channels))
        channel->deleteLater();
    m_channels.clear();
    m_configs = channels;
    QSet<QString> names;
    for (const ChannelConfig &config : channels)
        names.insert(config.name);
    m_latest.removeIf([&names](const auto &each) { return !names.contains(each.key()); });
    {
        QMutexLocker locker(&m_unwrittenLock);
        m_names = names;
    }
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

void NoticeChannels::Configure(const ChannelConfig &config, const QString &secret)
{
    NoticeChannel *channel = m_channels.value(config.name);
    if (auto *apprise = qobject_cast<AppriseChannel *>(channel))
        apprise->setUrls(ChannelConfig::appriseUrls(secret));
    else if (auto *web = qobject_cast<WebChannel *>(channel))
        web->setSettings(config.web(secret));
}

void NoticeChannels::Send(const ChannelConfig &config, const Notice &notice)
{
    // The secret may still be on its way from the keyring; the notice waits for it, not the others.
    ++m_pending;
    m_secrets.whenReady(config.name,
                        [this, config, notice, generation = m_generation](const QString &secret) {
                            if (generation != m_generation)
                                return; // the list changed meanwhile, and what was under way ended with it
                            Configure(config, secret);
                            m_fanOut->sendTo(config.name, notice);
                        });
}

void NoticeChannels::Changed(const Notice &notice)
{
    for (const ChannelConfig &config : std::as_const(m_configs))
        if (!config.paused && !config.isPing())
            Send(config, notice);
}

void NoticeChannels::Ping(const Notice &notice)
{
    for (const ChannelConfig &config : std::as_const(m_configs))
        if (!config.paused && config.isPing())
            Send(config, notice);
}

bool NoticeChannels::Test(const QString &name, const Notice &notice)
{
    const auto config = std::find_if(m_configs.cbegin(), m_configs.cend(),
                                     [&name](const ChannelConfig &each) { return each.name == name; });
    if (config == m_configs.cend())
        return false;
    m_secrets.whenReady(name, [this, config = *config, notice](const QString &secret) {
        NoticeChannel *channel = m_channels.value(config.name);
        if (!channel) {
            emit tested(config.name, false, QStringLiteral("the channel was removed"));
            return;
        }
        Configure(config, secret);
        const quint64 job = channel->send(notice);
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(channel, &NoticeChannel::finished, this,
                              [this, name = config.name, job, connection](const ChannelResult &result) {
                                  if (result.job != job)
                                      return;
                                  disconnect(*connection);
                                  Keep(name, result.delivered, result.cause);
                                  emit tested(name, result.delivered, result.cause);
                              });
    });
    return true;
}

void NoticeChannels::Keep(const QString &name, bool delivered, const QString &cause)
{
    if (m_resultsFile.isEmpty())
        return;
    const Result result{QDateTime::currentDateTimeUtc(), delivered, cause.left(300)};
    m_latest.insert(name, result);
    // Read, merged and synced on a thread of its own: the window's thread never waits for the disk, and
    // results that end while one write is under way go out together in the next.
    QMutexLocker locker(&m_unwrittenLock);
    m_unwritten.insert(name, result);
    if (!std::exchange(m_writeQueued, true))
        m_writer.start([this] { WriteResults(); });
}

void NoticeChannels::WriteResults()
{
    QHash<QString, Result> unwritten;
    QSet<QString> names;
    {
        QMutexLocker locker(&m_unwrittenLock);
        unwritten = std::exchange(m_unwritten, {});
        names = m_names;
        m_writeQueued = false;
    }
    QString error;
    const std::optional<WholeFile::Entry> entry = WholeFile::readEntry(m_resultsFile, ResultsLimit, error);
    QJsonObject all = entry && !entry->cut ? QJsonDocument::fromJson(entry->data).object() : QJsonObject();
    // Only channels that still exist: a removed one's result would stay for ever.
    for (const QString &key : all.keys())
        if (!names.contains(key))
            all.remove(key);
    for (auto it = unwritten.cbegin(); it != unwritten.cend(); ++it)
        all.insert(it.key(), QJsonObject{{QStringLiteral("time"), it->when.toString(Qt::ISODate)},
                                         {QStringLiteral("delivered"), it->delivered},
                                         {QStringLiteral("cause"), it->cause}});
    if (!WholeFile::makeFolders(QFileInfo(m_resultsFile).absolutePath(), error) ||
        !WholeFile::replaceEntry(m_resultsFile, QJsonDocument(all).toJson(),
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner, error))
        qCWarning(lcMail).noquote() << "Cannot keep the results of channels"
                                    << QStringList(unwritten.keyBegin(), unwritten.keyEnd()).join(u", ")
                                    << "-" << error;
}

QHash<QString, NoticeChannels::Result> NoticeChannels::results() const
{
    QHash<QString, Result> results = readResults(m_resultsFile);
    for (auto it = m_latest.cbegin(); it != m_latest.cend(); ++it) {
        const auto inFile = results.constFind(it.key());
        // The file keeps whole seconds.
        if (inFile == results.cend() || inFile->when.toSecsSinceEpoch() <= it->when.toSecsSinceEpoch())
            results.insert(it.key(), *it);
    }
    return results;
}

QHash<QString, NoticeChannels::Result> NoticeChannels::readResults(const QString &path)
{
    QHash<QString, Result> results;
    QString error;
    const std::optional<WholeFile::Entry> entry = WholeFile::readEntry(path, ResultsLimit, error);
    if (!entry || entry->missing || entry->cut)
        return results;
    const QJsonObject all = QJsonDocument::fromJson(entry->data).object();
    for (auto it = all.begin(); it != all.end(); ++it) {
        const QJsonObject one = it->toObject();
        if (!ChannelConfig::validName(it.key()))
            continue;
        results.insert(it.key(),
                       {QDateTime::fromString(one.value(u"time").toString(), Qt::ISODate),
                        one.value(u"delivered").toBool(), one.value(u"cause").toString().left(300)});
    }
    return results;
}

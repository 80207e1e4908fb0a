#include "NoticeChannels.h"

#include "ChannelSecrets.h"
#include "ChannelSender.h"
#include "MailLog.h"
#include "WholeFile.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <memory>

namespace {
constexpr qint64 ResultsLimit = 256 * 1024;
} // namespace

NoticeChannels::NoticeChannels(ChannelSecrets &secrets, QString resultsFile, QObject *parent)
    : QObject(parent), m_secrets(secrets), m_resultsFile(std::move(resultsFile)), m_thread(new QThread(this)),
      m_sender(new ChannelSender)
{
    m_writer.setMaxThreadCount(1);
    m_thread->setObjectName(QStringLiteral("channels"));
    m_sender->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_sender, &QObject::deleteLater);
    connect(m_sender, &ChannelSender::ended, this, [this](const QList<ChannelSender::Outcome> &outcomes) {
        for (const ChannelSender::Outcome &outcome : outcomes) {
            // A notice of a list replaced meanwhile was counted no more.
            if (outcome.generation != m_generation)
                continue;
            Keep(outcome.name, outcome.delivered, outcome.cause);
            emit ended(outcome.name, outcome.delivered, outcome.cause, outcome.tries);
            if (m_pending > 0 && --m_pending == 0)
                emit idle();
        }
    });
    connect(m_sender, &ChannelSender::tested, this,
            [this](const QString &name, bool delivered, const QString &cause) {
                Keep(name, delivered, cause);
                emit tested(name, delivered, cause);
            });
    m_thread->start();
}

NoticeChannels::~NoticeChannels()
{
    m_thread->quit();
    m_thread->wait();
    m_writer.waitForDone();
}

void NoticeChannels::OnSender(std::function<void(ChannelSender &)> work)
{
    QMetaObject::invokeMethod(
        m_sender, [sender = m_sender, work = std::move(work)] { work(*sender); }, Qt::QueuedConnection);
}

void NoticeChannels::setRetryDelays(const QList<int> &milliseconds)
{
    OnSender([milliseconds](ChannelSender &sender) { sender.setRetryDelays(milliseconds); });
}

void NoticeChannels::setChannels(const QList<ChannelConfig> &channels)
{
    ++m_generation;
    if (std::exchange(m_pending, 0) > 0)
        emit idle();
    OnSender([channels, generation = m_generation](ChannelSender &sender) {
        sender.setChannels(channels, generation);
    });
    m_configs = channels;
    QSet<QString> names;
    for (const ChannelConfig &config : channels)
        names.insert(config.name);
    m_latest.removeIf([&names](const auto &each) { return !names.contains(each.key()); });
    QMutexLocker locker(&m_unwrittenLock);
    m_names = names;
}

void NoticeChannels::Send(const QList<Notice> &notices)
{
    // The secrets known already go over in one hand-over; one still on its way from the keyring goes
    // alone when it comes, holding back no other.
    auto known = std::make_shared<QList<ChannelSender::Send>>();
    auto gathering = std::make_shared<bool>(true);
    for (const Notice &notice : notices) {
        const bool ping = notice.event == Notice::Event::Alive || notice.event == Notice::Event::Failing;
        for (const ChannelConfig &config : std::as_const(m_configs)) {
            if (config.paused || config.isPing() != ping)
                continue;
            ++m_pending;
            m_secrets.whenReady(config.name, [this, config, notice, known, gathering,
                                              generation = m_generation](const QString &secret) {
                if (*gathering)
                    return known->append({config, secret, notice});
                if (generation != m_generation)
                    return; // the list changed meanwhile, and what was under way ended with it
                OnSender([send = ChannelSender::Send{config, secret, notice}](ChannelSender &sender) {
                    sender.send({send});
                });
            });
        }
    }
    *gathering = false;
    if (!known->isEmpty())
        OnSender([sends = *known](ChannelSender &sender) { sender.send(sends); });
}

bool NoticeChannels::Test(const QString &name, const Notice &notice)
{
    const auto config = std::find_if(m_configs.cbegin(), m_configs.cend(),
                                     [&name](const ChannelConfig &each) { return each.name == name; });
    if (config == m_configs.cend())
        return false;
    m_secrets.whenReady(name, [this, config = *config, notice](const QString &secret) {
        OnSender([config, secret, notice](ChannelSender &sender) { sender.test(config, secret, notice); });
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

#include "Options.h"

#include "IpSourceList.h"
#include "Module6464.h"
#include "SettingsLog.h"
#include "SettingsStore.h"

namespace {
bool isOption(const SettingKeys::Key &key)
{
    return !(key == SettingKeys::OldInternal || key == SettingKeys::OldExternal ||
             key == SettingKeys::OldInternal6 || key == SettingKeys::OldExternal6 ||
             key == SettingKeys::NotifyPending);
}
} // namespace

Options::Options(SettingsStore &store, QObject *parent) : QObject(parent), m_store(store) {}

QString Options::text(const SettingKeys::Key &key) const
{
    const auto it = m_texts.constFind(QString::fromLatin1(key.name));
    return it != m_texts.cend() ? *it : m_store.GetSetting(key);
}

void Options::read()
{
    QList<std::pair<QString, QString>> changes;
    for (const SettingKeys::Key &key : SettingKeys::All) {
        if (!isOption(key))
            continue;
        const QString name = QString::fromLatin1(key.name);
        const QString now = m_store.GetSetting(key);
        const auto before = m_texts.constFind(name);
        if (m_read && before != m_texts.cend() && *before != now)
            changes.append({name, *before});
        m_texts.insert(name, now);
    }
    m_sources = IpSourceList::read(text(SettingKeys::IpSources));
    m_read = true;
    // Told once every option has its new value, so that a listener reads them all as they are now.
    for (const auto &[key, was] : std::as_const(changes))
        emit changed(key, was);
}

void Options::readSources()
{
    for (const SettingKeys::Key &key : {SettingKeys::IpSources, SettingKeys::ConfirmChanges,
                                        SettingKeys::IPv6Prefix, SettingKeys::FollowFamilies})
        m_texts.insert(QString::fromLatin1(key.name), m_store.GetSetting(key));
    m_sources = IpSourceList::read(text(SettingKeys::IpSources));
}

void Options::save(const SettingKeys::Key &key, const QString &value, bool typed)
{
    const QString name = QString::fromLatin1(key.name);
    const QString was = text(key);
    if (typed)
        m_store.SaveTypedSetting(key, value);
    else
        m_store.SaveSetting(key, value);
    m_texts.insert(name, value);
    if (key == SettingKeys::IpSources)
        m_sources = IpSourceList::read(value);
    if (was != value)
        emit changed(name, was);
}

void Options::setSources(const QList<IpSource> &sources)
{
    save(SettingKeys::IpSources, IpSourceList::format(sources));
    // As given: the list read back from its text may name the product page differently.
    m_sources = sources;
}

MailSettings Options::mail() const
{
    MailSettings mail;
    Module6464::LoadMailSettings(m_store, mail);
    return mail;
}

bool Options::isMailKey(const SettingKeys::Key &key)
{
    return key == SettingKeys::Server || key == SettingKeys::Port || key == SettingKeys::EmailTo ||
           key == SettingKeys::EmailFrom || key == SettingKeys::Security || key == SettingKeys::User;
}

void Options::setMailSetting(const SettingKeys::Key &key, const QString &value)
{
    Q_ASSERT(isMailKey(key));
    if (isMailKey(key))
        save(key, value, !(key == SettingKeys::Security));
}

QList<ChannelConfig> Options::channels() const
{
    // Parsed once for each text: the windows ask often, and a malformed text is logged once.
    const QString stored = text(SettingKeys::NoticeChannels);
    if (m_channelsParsed && stored == m_channelsText)
        return m_channels;
    QString why;
    const std::optional<QList<ChannelConfig>> channels = ChannelList::parse(stored, &why);
    if (!channels)
        qCWarning(lcSettings).noquote() << "noticeChannels is not used -" << why;
    m_channelsText = stored;
    m_channels = channels.value_or(QList<ChannelConfig>{});
    m_channelsParsed = true;
    return m_channels;
}

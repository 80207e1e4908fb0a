#pragma once

#include "ChannelConfig.h"
#include "IpSource.h"
#include "MailSettings.h"
#include "SettingKeys.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class SettingsStore;

/// Every option of the program, read from the settings store by its rules and saved through it: the
/// one place an option is held. changed tells of a new value, set here or read anew from the file
/// after another program saved it, so that whatever uses an option follows it. The previous addresses
/// and the unsent mark are this process's record, not options: they are not here.
class Options : public QObject {
    Q_OBJECT
public:
    explicit Options(SettingsStore &store, QObject *parent = nullptr);

    /// Reads every option as the store holds it now. The first read tells nothing; a later one tells
    /// each option whose stored text is not what it was.
    void read();
    /// The sources and the confirmation alone, for a lookup that reads nothing else.
    void readSources();

    // Only 0 and 1 are states the program writes; anything else reads as off and stays in the file.
    bool autoRefresh() const { return flag(SettingKeys::Refresh); }
    void setAutoRefresh(bool on) { save(SettingKeys::Refresh, SettingKeys::flagText(on)); }
    /// The interval's position in the list (0: 1 min ... 4: 60 min); one the list cannot take reads
    /// as the first, and positionRestored() is false.
    int refreshPosition() const { return position().value_or(0); }
    bool positionRestored() const { return position().has_value(); }
    void setRefreshPosition(int position) { save(SettingKeys::RefreshRate, QString::number(position)); }
    bool emailNotify() const { return flag(SettingKeys::EmailNotify); }
    void setEmailNotify(bool on) { save(SettingKeys::EmailNotify, SettingKeys::flagText(on)); }
    bool desktopNotify() const { return flag(SettingKeys::NotifyDesktop); }
    void setDesktopNotify(bool on) { save(SettingKeys::NotifyDesktop, SettingKeys::flagText(on)); }
    bool runAtStartup() const { return flag(SettingKeys::Startup); }
    void setRunAtStartup(bool on) { save(SettingKeys::Startup, SettingKeys::flagText(on)); }
    bool watchNetwork() const { return flag(SettingKeys::WatchNetwork); }
    void setWatchNetwork(bool on) { save(SettingKeys::WatchNetwork, SettingKeys::flagText(on)); }
    /// Only "0" turns it off: the default is on, and a value the program cannot read keeps it so.
    bool confirmChanges() const { return SettingKeys::wholeNumber(text(SettingKeys::ConfirmChanges)) != 0; }
    void setConfirmChanges(bool on) { save(SettingKeys::ConfirmChanges, SettingKeys::flagText(on)); }
    /// 1 to 128; anything else reads as 64.
    int ipv6Prefix() const
    {
        return SettingKeys::position(text(SettingKeys::IPv6Prefix), 1, 128).value_or(64);
    }
    bool followFamilies() const { return flag(SettingKeys::FollowFamilies); }
    void setFollowFamilies(bool on) { save(SettingKeys::FollowFamilies, SettingKeys::flagText(on)); }
    QString changeCommand() const { return text(SettingKeys::ChangeCommand); }
    /// Typed: written once typing pauses.
    void setChangeCommand(const QString &command) { save(SettingKeys::ChangeCommand, command, true); }
    QList<IpSource> sources() const { return m_sources; }
    void setSources(const QList<IpSource> &sources);
    /// The mail settings without the password, which the keyring keeps.
    MailSettings mail() const;
    /// One of the mail keys (server, port, addresses, security, user), as typed; the security is chosen
    /// from a list and saved at once, the rest once typing pauses.
    void setMailSetting(const SettingKeys::Key &key, const QString &value);
    /// Server, port, recipient, sender, security or user.
    static bool isMailKey(const SettingKeys::Key &key);
    /// The notice channels; none while the stored text is malformed (logged, and left in the file).
    QList<ChannelConfig> channels() const;
    void setChannels(const QList<ChannelConfig> &channels)
    {
        save(SettingKeys::NoticeChannels, ChannelList::format(channels));
    }
    QString metricsFile() const { return text(SettingKeys::MetricsFile); }
    QString passwordFile() const { return text(SettingKeys::PasswordFile); }

    /// An option's text as last read or set.
    QString text(const SettingKeys::Key &key) const;
    /// The same, by the key's name; empty for a name that is no option read yet.
    QString text(const QString &name) const { return m_texts.value(name); }

signals:
    /// The option's text changed from `was`.
    void changed(const QString &key, const QString &was);

private:
    bool flag(const SettingKeys::Key &key) const { return SettingKeys::flag(text(key)); }
    std::optional<int> position() const
    {
        return SettingKeys::position(text(SettingKeys::RefreshRate), -1, 4);
    }
    void save(const SettingKeys::Key &key, const QString &value, bool typed = false);

    SettingsStore &m_store;
    QHash<QString, QString> m_texts; // by key name
    QList<IpSource> m_sources;
    mutable QString m_channelsText; // the text m_channels was parsed from
    mutable QList<ChannelConfig> m_channels;
    mutable bool m_channelsParsed = false;
    bool m_read = false;
};

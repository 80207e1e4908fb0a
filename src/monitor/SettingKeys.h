#pragma once

#include <QString>
#include <optional>

/// Every key of the "Settings" section with its default, and how check states and list positions are
/// read and written. No other key belongs to the program.
namespace SettingKeys {
struct Key {
    const char *name;
    const char *defaultValue;

    friend bool operator==(const Key &a, const Key &b) { return qstrcmp(a.name, b.name) == 0; }
};

/// A whole number, surrounding spaces allowed; nullopt for any other text.
inline std::optional<int> wholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}
/// A stored check state: on for the whole number 1, padded or not; any other text is off.
inline bool flag(const QString &stored)
{
    return wholeNumber(stored) == 1;
}
/// A check state as it is written.
inline QString flagText(bool on)
{
    return QString::number(int(on));
}
/// A stored list position, when it is a whole number within [low, high].
inline std::optional<int> position(const QString &stored, int low, int high)
{
    const std::optional<int> value = wholeNumber(stored);
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

inline constexpr Key Refresh{"refresh", "0"};
inline constexpr Key RefreshRate{"refreshrate", "0"};
inline constexpr Key Startup{"startup", "0"};
inline constexpr Key EmailNotify{"emailNotify", "0"};
inline constexpr Key OldInternal{"OldInternal", "0"};
inline constexpr Key OldExternal{"OldExternal", "0"};
inline constexpr Key ShowHelp{"showHelp", "1"};
inline constexpr Key EmailTo{"strEmailTo", "you@example.com"};
inline constexpr Key EmailFrom{"strEmailFrom", "you@example.com"};
inline constexpr Key Server{"strServer", "mail.example.com"};
inline constexpr Key Port{"strPort", "25"};
/// Where the external address comes from, in order; encoding in IpSourceList.
inline constexpr Key IpSources{"ipSources", "default"};
/// Check state "0" / "1": a desktop notification from the tray icon when an address changes.
inline constexpr Key NotifyDesktop{"notifyDesktop", "0"};

/// How the mail connection is secured: "None", "STARTTLS" or "SSL/TLS".
inline constexpr Key Security{"strSecurity", "None"};
/// The mail server login; empty for none. Its password is kept in the desktop's keyring, never here.
inline constexpr Key User{"strUser", ""};
/// "1" while a notification of an address change has not been delivered.
inline constexpr Key NotifyPending{"notifyPending", "0"};
/// A file holding the mail password, for netquill-monitor where no keyring answers; empty for none. A
/// relative name is taken from the settings folder. Used only while no one but its owner can read it.
inline constexpr Key PasswordFile{"passwordFile", ""};

/// Check state "0" / "1": a lookup when the machine's network changes or it wakes from suspend.
inline constexpr Key WatchNetwork{"watchNetwork", "0"};

/// The command line run after an address change, split like a shell would without running one; empty
/// for none.
inline constexpr Key ChangeCommand{"changeCommand", ""};
/// Check state "0" / "1": another source must give a new external address before anything acts on it
/// (with two or more sources switched on).
inline constexpr Key ConfirmChanges{"confirmChanges", "1"};
/// A Prometheus text file written after each lookup by the program that holds the notifier lock;
/// empty for none.
inline constexpr Key MetricsFile{"metricsFile", ""};
/// The notice channels beyond the mail (ntfy, Gotify, webhooks, Apprise, health pings) as a JSON array;
/// their tokens are kept in the keyring. Empty for none.
inline constexpr Key NoticeChannels{"noticeChannels", ""};
/// Leading bits (1 to 128) two IPv6 answers of a public source share to be one address for the change
/// test: a temporary address replaced within its prefix is no change.
inline constexpr Key IPv6Prefix{"ipv6Prefix", "64"};
/// Check state "0" / "1": IPv4 and IPv6 followed apart, each with its own addresses, sources and record.
inline constexpr Key FollowFamilies{"followFamilies", "0"};
/// The IPv6 track's last addresses, as OldInternal and OldExternal hold the IPv4 one's ("0": none yet).
inline constexpr Key OldInternal6{"OldInternal6", "0"};
inline constexpr Key OldExternal6{"OldExternal6", "0"};

inline constexpr Key All[] = {
    Refresh,        RefreshRate,   Startup,        EmailNotify,  OldInternal,   OldExternal,    ShowHelp,
    EmailTo,        EmailFrom,     Server,         Port,         IpSources,     NotifyDesktop,  Security,
    User,           NotifyPending, PasswordFile,   WatchNetwork, ChangeCommand, ConfirmChanges, MetricsFile,
    NoticeChannels, IPv6Prefix,    FollowFamilies, OldInternal6, OldExternal6};
} // namespace SettingKeys

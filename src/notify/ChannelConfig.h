#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

struct WebChannelSettings;

/// One notice channel the user set up, as stored in the settings (without its token, secret or Apprise
/// URLs, which the keyring keeps: see ChannelSecrets).
struct ChannelConfig {
    enum class Kind { Ntfy, Gotify, Webhook, Apprise, HealthPing };
    QString name; // 1 to 32 of A-Z a-z 0-9 . _ -: it names a credential file and a metrics label
    Kind kind = Kind::Webhook;
    QUrl url;         // ntfy, Gotify: the server; a webhook: where it posts; a ping: its URL
    QString topic;    // ntfy
    int priority = 0; // ntfy 1-5, Gotify 0-10; 0: the service's default
    QUrl failUrl;     // a ping's failure form; empty: the URL with "/fail" added
    bool paused = false;

    /// The word stored and shown for a kind: "ntfy", "gotify", "webhook", "apprise", "ping".
    static QString kindName(Kind kind);
    static std::optional<Kind> kindFromName(const QString &name);
    static bool validName(const QString &name);
    /// Whether the secret must be there for a send (Gotify's token, Apprise's URLs).
    bool needsSecret() const { return kind == Kind::Gotify || kind == Kind::Apprise; }
    /// A ping is no notice of a change: it is asked after every lookup that answered.
    bool isPing() const { return kind == Kind::HealthPing; }
    /// What a web channel is given; the secret is the token (ntfy, Gotify) or the signing secret.
    WebChannelSettings web(const QString &secret) const;
    /// Apprise's URLs, one per line or space apart, from its secret.
    static QStringList appriseUrls(const QString &secret);
    /// Why the channel cannot be used, in a few words; empty when it can.
    QString problem(const QString &secret) const;
    /// Where it goes, for the list: the host, never a path or a token.
    QString where() const;

    bool operator==(const ChannelConfig &) const = default;
};

/// The "noticeChannels" setting: a JSON array of channels, as hostile as any text a user may edit.
namespace ChannelList {
inline constexpr qsizetype MaxChannels = 16;
inline constexpr qsizetype MaxTextLength = 64 * 1024;
/// The channels; nullopt (with why) when the text is malformed. Empty text: none.
std::optional<QList<ChannelConfig>> parse(const QString &text, QString *why = nullptr);
QString format(const QList<ChannelConfig> &channels);
} // namespace ChannelList

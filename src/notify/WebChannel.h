#pragma once

#include "NoticeChannel.h"

#include <QList>
#include <QUrl>
#include <utility>

class QNetworkAccessManager;

/// Where and how a web channel posts.
struct WebChannelSettings {
    enum class Kind { Ntfy, Gotify, Webhook, HealthPing };
    Kind kind = Kind::Webhook;
    QUrl url;         // ntfy and Gotify: the server; a webhook: where the document goes; a ping: its URL
    QString topic;    // ntfy
    QString token;    // ntfy's access token (optional), Gotify's application token
    QString secret;   // a webhook's shared secret: the body is signed with it when set
    int priority = 0; // ntfy 1-5, Gotify 0-10; 0: the service's default
    QUrl failUrl;     // a ping's failure form; empty: the URL with "/fail" added (healthchecks.io)
};

/// ntfy, Gotify, a webhook or a health ping, over HTTP(S). Redirects are not followed (a token must
/// not follow one elsewhere), the answer is read only for its status and a few words of cause, and a
/// service that does not answer within TimeoutMs fails the send.
class WebChannel : public NoticeChannel {
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 10000;

    struct Request {
        QByteArray method;
        QUrl url;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };
    /// What a notice becomes for the service, as the service documents it.
    static Request build(const WebChannelSettings &settings, const Notice &notice);
    /// Why the settings cannot be used, in a few words; empty when they can.
    static QString problem(const WebChannelSettings &settings);

    explicit WebChannel(WebChannelSettings settings, QObject *parent = nullptr);
    void setSettings(const WebChannelSettings &settings) { m_settings = settings; }
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    quint64 send(const Notice &notice) override;

private:
    WebChannelSettings m_settings;
    QNetworkAccessManager *m_network;
    int m_timeoutMs = TimeoutMs;
};

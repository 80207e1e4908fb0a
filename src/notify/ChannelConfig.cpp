#include "ChannelConfig.h"

#include "WebChannel.h"

#include <QRegularExpression>

WebChannelSettings ChannelConfig::web(const QString &secret) const
{
    WebChannelSettings settings;
    settings.url = url;
    settings.topic = topic;
    settings.priority = priority;
    settings.failUrl = failUrl;
    switch (kind) {
    case Kind::Ntfy:
        settings.kind = WebChannelSettings::Kind::Ntfy;
        settings.token = secret;
        break;
    case Kind::Gotify:
        settings.kind = WebChannelSettings::Kind::Gotify;
        settings.token = secret;
        break;
    case Kind::Webhook:
    case Kind::Apprise:
        settings.kind = WebChannelSettings::Kind::Webhook;
        settings.secret = secret;
        break;
    case Kind::HealthPing:
        settings.kind = WebChannelSettings::Kind::HealthPing;
        break;
    }
    return settings;
}

QStringList ChannelConfig::appriseUrls(const QString &secret)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return secret.split(space, Qt::SkipEmptyParts);
}

QString ChannelConfig::problem(const QString &secret) const
{
    if (!validName(name))
        return QStringLiteral("the name must be 1 to 32 letters, digits, '.', '_' or '-'");
    static const QRegularExpression topicPattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (kind == Kind::Ntfy && !topicPattern.match(topic).hasMatch())
        return QStringLiteral("the topic must be 1 to 64 letters, digits, '_' or '-'");
    if (kind == Kind::Apprise)
        return appriseUrls(secret).isEmpty() ? QStringLiteral("no Apprise URL is set") : QString();
    return WebChannel::problem(web(secret));
}

QString ChannelConfig::where() const
{
    if (kind == Kind::Apprise)
        return QStringLiteral("apprise");
    return kind == Kind::Ntfy ? url.host() + u'/' + topic : url.host();
}

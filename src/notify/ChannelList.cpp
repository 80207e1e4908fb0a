#include "ChannelConfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

namespace {
constexpr std::pair<ChannelConfig::Kind, const char *> KindNames[] = {
    {ChannelConfig::Kind::Ntfy, "ntfy"},       {ChannelConfig::Kind::Gotify, "gotify"},
    {ChannelConfig::Kind::Webhook, "webhook"}, {ChannelConfig::Kind::Apprise, "apprise"},
    {ChannelConfig::Kind::HealthPing, "ping"},
};
constexpr qsizetype MaxUrlLength = 1024;

QUrl urlOf(const QJsonValue &value)
{
    const QString text = value.toString();
    const QUrl url = text.size() <= MaxUrlLength ? QUrl(text, QUrl::StrictMode) : QUrl();
    return url.isValid() ? url : QUrl();
}
} // namespace

QString ChannelConfig::kindName(Kind kind)
{
    for (const auto &[each, name] : KindNames)
        if (each == kind)
            return QLatin1String(name);
    return {};
}

std::optional<ChannelConfig::Kind> ChannelConfig::kindFromName(const QString &name)
{
    for (const auto &[kind, each] : KindNames)
        if (name == QLatin1String(each))
            return kind;
    return std::nullopt;
}

bool ChannelConfig::validName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,32}$"));
    return pattern.match(name).hasMatch() && name != u"." && name != u"..";
}

std::optional<QList<ChannelConfig>> ChannelList::parse(const QString &text, QString *why)
{
    const auto fail = [why](const QString &what) {
        if (why)
            *why = what;
        return std::nullopt;
    };
    if (text.trimmed().isEmpty())
        return QList<ChannelConfig>{};
    if (text.size() > MaxTextLength)
        return fail(QStringLiteral("it is longer than %1 characters").arg(MaxTextLength));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (!document.isArray())
        return fail(error.error != QJsonParseError::NoError ? error.errorString()
                                                            : QStringLiteral("it is no JSON array"));
    const QJsonArray array = document.array();
    if (array.size() > MaxChannels)
        return fail(QStringLiteral("it lists more than %1 channels").arg(MaxChannels));
    QList<ChannelConfig> channels;
    QSet<QString> names;
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        ChannelConfig channel;
        channel.name = object.value(u"name").toString();
        const std::optional<ChannelConfig::Kind> kind =
            ChannelConfig::kindFromName(object.value(u"kind").toString());
        if (!ChannelConfig::validName(channel.name) || names.contains(channel.name) || !kind)
            return fail(QStringLiteral("channel %1 has no usable name or kind").arg(channels.size() + 1));
        names.insert(channel.name);
        channel.kind = *kind;
        channel.url = urlOf(object.value(u"url"));
        // ntfy's topics are letters, digits, '_' and '-'; anything else is dropped, and the channel says why.
        static const QRegularExpression topic(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
        if (const QString text = object.value(u"topic").toString(); topic.match(text).hasMatch())
            channel.topic = text;
        channel.priority = qBound(0, object.value(u"priority").toInt(), 10);
        channel.failUrl = urlOf(object.value(u"failUrl"));
        channel.paused = object.value(u"paused").toBool();
        channels.append(channel);
    }
    return channels;
}

QString ChannelList::format(const QList<ChannelConfig> &channels)
{
    QJsonArray array;
    for (const ChannelConfig &channel : channels) {
        QJsonObject object{{QStringLiteral("name"), channel.name},
                           {QStringLiteral("kind"), ChannelConfig::kindName(channel.kind)}};
        if (!channel.url.isEmpty())
            object.insert(QStringLiteral("url"), channel.url.toString());
        if (!channel.topic.isEmpty())
            object.insert(QStringLiteral("topic"), channel.topic);
        if (channel.priority)
            object.insert(QStringLiteral("priority"), channel.priority);
        if (!channel.failUrl.isEmpty())
            object.insert(QStringLiteral("failUrl"), channel.failUrl.toString());
        if (channel.paused)
            object.insert(QStringLiteral("paused"), true);
        array.append(object);
    }
    return channels.isEmpty() ? QString()
                              : QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

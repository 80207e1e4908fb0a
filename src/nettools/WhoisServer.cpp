#include "WhoisServer.h"

#include "NettoolsLog.h"

#include <netquill/BuildIdentity.h>

#include <QUrl>

std::optional<WhoisServer::Endpoint> WhoisServer::parse(const QString &text)
{
    const QString trimmed = text.trimmed();
    // Anything beyond a host and port (scheme, path, user, query) is refused rather than guessed at.
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('/')) || trimmed.contains(QLatin1Char('@')) ||
        trimmed.contains(QLatin1Char('?')) || trimmed.contains(QLatin1Char('#')))
        return std::nullopt;
    const QUrl url(QStringLiteral("whois://") + trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const int port = url.port(DefaultPort);
    if (port <= 0 || port > 65535)
        return std::nullopt;
    return Endpoint{url.host(), quint16(port)};
}

WhoisServer::Endpoint WhoisServer::current()
{
    const QString configured = qEnvironmentVariable("NETQUILL_WHOIS_HOST");
    if (!configured.isEmpty()) {
        if (const auto custom = parse(configured))
            return *custom;
        qCWarning(lcNettools, "NETQUILL_WHOIS_HOST=\"%s\" is not a host or host:port; using %s",
                  qPrintable(configured), BuildIdentity::WhoisHost);
    }
    // A build setting that is no host leaves the host empty: the window then connects nowhere.
    return parse(QString::fromUtf8(BuildIdentity::WhoisHost)).value_or(Endpoint{});
}

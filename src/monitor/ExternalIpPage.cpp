#include "ExternalIpPage.h"

#include <netquill/BuildIdentity.h>

#include <QtGlobal>

QUrl ExternalIpPage::urlForHost(const QString &host)
{
    const QString text = host.trimmed();
    // Anything beyond a host and port (scheme, path, user, query) is refused rather than guessed at.
    if (text.isEmpty() || text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('@')) ||
        text.contains(QLatin1Char('?')) || text.contains(QLatin1Char('#')))
        return {};
    QUrl url(QStringLiteral("http://") + text + QLatin1String(Path), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url;
}

QUrl ExternalIpPage::url()
{
    const QString configured = qEnvironmentVariable("NETQUILL_IP_HOST");
    if (!configured.isEmpty()) {
        const QUrl custom = urlForHost(configured);
        if (custom.isValid())
            return custom;
        qWarning("NETQUILL_IP_HOST=\"%s\" is not a host or host:port; using %s", qPrintable(configured),
                 BuildIdentity::IpHost);
    }
    return urlForHost(QString::fromUtf8(BuildIdentity::IpHost));
}

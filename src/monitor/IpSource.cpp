#include "IpSource.h"

#include "DnsQuery.h"

#include <netquill/BuildIdentity.h>

bool IpSource::isDns() const
{
    return !productPage && url.scheme() == QLatin1String("dns");
}

QString IpSource::displayName() const
{
    if (isDns()) {
        const DnsQuery::Parsed parsed = DnsQuery::parse(url.toString(QUrl::FullyEncoded));
        if (parsed.ok())
            return QStringLiteral("%1 (DNS %2, %3)")
                .arg(parsed.target.name, DnsQuery::typeName(parsed.target.type), parsed.target.server);
    }
    if (!productPage)
        return url.toDisplayString();
    const QString name = QString::fromUtf8(BuildIdentity::ProductName) + QStringLiteral(" page");
    if (url.host().isEmpty())
        return name;
    const QString port = url.port() < 0 ? QString() : QLatin1Char(':') + QString::number(url.port());
    return name + QStringLiteral(" at ") + url.host() + port;
}

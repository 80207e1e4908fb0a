#include "IpSource.h"

#include "DnsQuery.h"

#include <netquill/BuildIdentity.h>

bool IpSource::isDns() const
{
    return !productPage && url.scheme() == QLatin1String("dns");
}

IpSource::Family IpSource::family() const
{
    if (productPage)
        return Family::Any;
    if (isDns()) {
        const DnsQuery::Parsed parsed = DnsQuery::parse(url.toString(QUrl::FullyEncoded));
        if (!parsed.ok() || parsed.target.type == DnsQuery::RecordType::TXT)
            return Family::Any;
        return parsed.target.type == DnsQuery::RecordType::A ? Family::IPv4 : Family::IPv6;
    }
    const QString label = url.host().section(u'.', 0, 0).toLower();
    if (label == QLatin1String("api4") || label == QLatin1String("ipv4") || label == QLatin1String("v4"))
        return Family::IPv4;
    if (label == QLatin1String("api6") || label == QLatin1String("ipv6") || label == QLatin1String("v6"))
        return Family::IPv6;
    return Family::Any;
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

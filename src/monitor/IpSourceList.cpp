#include "IpSourceList.h"

#include "DnsQuery.h"

#include <QStringList>

namespace {
IpSource service(const char *url)
{
    return IpSource{false, QUrl(QString::fromLatin1(url)), false};
}

bool listed(const QList<IpSource> &sources, const IpSource &candidate)
{
    for (const IpSource &source : sources) {
        if (source.productPage == candidate.productPage && source.url == candidate.url)
            return true;
    }
    return false;
}
} // namespace

QList<IpSource> IpSourceList::publicServices()
{
    // The one-family hosts keep a dual-stack machine from flipping between its two addresses.
    return {service("https://api.ipify.org"),
            service("https://api4.ipify.org"),
            service("https://api6.ipify.org"),
            service("https://icanhazip.com"),
            service("https://ipv4.icanhazip.com"),
            service("https://ipv6.icanhazip.com"),
            service("https://ifconfig.me/ip"),
            service("https://checkip.amazonaws.com"),
            service(OpenDnsIPv4),
            service(OpenDnsIPv6),
            service(GoogleDns)};
}

bool IpSourceList::isOffered(const IpSource &source)
{
    // "https://api.ipify.org/" is the same service as "https://api.ipify.org".
    const auto bare = [](const QUrl &url) {
        QUrl stripped = url.adjusted(QUrl::StripTrailingSlash);
        if (stripped.path() == QLatin1String("/"))
            stripped.setPath({});
        return stripped;
    };
    const QList<IpSource> offered = publicServices();
    return !source.productPage && std::any_of(offered.cbegin(), offered.cend(), [&](const IpSource &service) {
        return bare(service.url) == bare(source.url);
    });
}

QList<IpSource> IpSourceList::defaults()
{
    return {IpSource{true, QUrl(), true}};
}

std::optional<QUrl> IpSourceList::serviceUrl(const QString &text)
{
    if (text.isEmpty() || text.size() > MaxUrlLength)
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("dns"))
        return DnsQuery::parse(text).ok() ? std::optional(url) : std::nullopt;
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasFragment())
        return std::nullopt;
    return url;
}

std::optional<QList<IpSource>> IpSourceList::parse(const QString &text)
{
    if (text.size() > MaxEntries * (MaxUrlLength + 2))
        return std::nullopt;
    const QStringList entries = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (entries.isEmpty() || entries.size() > MaxEntries)
        return std::nullopt;
    QList<IpSource> sources;
    bool anyOn = false;
    for (const QString &entry : entries) {
        const bool on = !entry.startsWith(QLatin1Char('-'));
        const QString body = on ? entry : entry.mid(1);
        IpSource source{true, QUrl(), on};
        if (body != QLatin1String(ProductToken)) {
            const auto url = serviceUrl(body);
            if (!url)
                return std::nullopt;
            source = IpSource{false, *url, on};
        }
        if (listed(sources, source))
            return std::nullopt;
        sources.append(source);
        anyOn = anyOn || on;
    }
    if (!anyOn)
        return std::nullopt;
    return sources;
}

QList<IpSource> IpSourceList::read(const QString &text)
{
    return parse(text).value_or(defaults());
}

QString IpSourceList::format(const QList<IpSource> &sources)
{
    QStringList entries;
    for (const IpSource &source : sources) {
        const QString body =
            source.productPage ? QString::fromLatin1(ProductToken) : source.url.toString(QUrl::FullyEncoded);
        entries.append(source.enabled ? body : QLatin1Char('-') + body);
    }
    return entries.join(QLatin1Char(' '));
}

QList<IpSource> IpSourceList::active(const QList<IpSource> &sources, const QUrl &page)
{
    QList<IpSource> on;
    for (IpSource source : sources) {
        if (!source.enabled)
            continue;
        if (source.productPage)
            source.url = page;
        on.append(source);
    }
    return on;
}

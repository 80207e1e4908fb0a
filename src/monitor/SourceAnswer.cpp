#include "SourceAnswer.h"

#include "IpSourceList.h"
#include "LookupLog.h"

#include <QHostAddress>

namespace {
/// Why an address cannot be anyone's external address; empty when it can.
QString unroutable(const QHostAddress &address)
{
    if (address.isLoopback())
        return QStringLiteral("a loopback address");
    if (address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return QStringLiteral("the unspecified address");
    if (address.isBroadcast())
        return QStringLiteral("the broadcast address");
    if (address.isMulticast())
        return QStringLiteral("a multicast address");
    if (address.isLinkLocal())
        return QStringLiteral("a link-local address");
    return {};
}

bool isPrivate(const QHostAddress &address)
{
    static const QList<QPair<QHostAddress, int>> ranges = {
        QHostAddress::parseSubnet(QStringLiteral("10.0.0.0/8")),
        QHostAddress::parseSubnet(QStringLiteral("172.16.0.0/12")),
        QHostAddress::parseSubnet(QStringLiteral("192.168.0.0/16")),
        QHostAddress::parseSubnet(QStringLiteral("100.64.0.0/10")), // carrier-grade NAT
        QHostAddress::parseSubnet(QStringLiteral("fc00::/7")),
    };
    return std::any_of(ranges.cbegin(), ranges.cend(),
                       [&](const QPair<QHostAddress, int> &range) { return address.isInSubnet(range); });
}
} // namespace

PageFetcher::Body SourceAnswer::bodyFor(const IpSource &source)
{
    return source.productPage ? PageFetcher::Body::Html : PageFetcher::Body::PlainText;
}

SourceAnswer::Result SourceAnswer::judge(const IpSource &source, const PageFetcher::Result &fetch)
{
    if (source.productPage) {
        if (!fetch.LocationURL.toString().contains(QLatin1String("GetExternalIP"), Qt::CaseInsensitive))
            return {Verdict::Elsewhere, {}, {}};
        const QString pageText = fetch.BodyInnerHTML;
        // An empty page would otherwise replace a good address with nothing and mail that as a change.
        if (fetch.failed || pageText.isEmpty() ||
            pageText.contains(QLatin1String("error"), Qt::CaseInsensitive))
            return {Verdict::Failed, {}, {}};
        return {Verdict::Address, pageText, {}};
    }
    // A service's fetcher asks nothing but the service (a redirect elsewhere has failed it), so whatever
    // it completed with is the service's answer.
    if (fetch.failed)
        return {Verdict::Failed, {}, {}};
    return judgeAddress(source, fetch.BodyInnerHTML.trimmed());
}

SourceAnswer::Result SourceAnswer::judge(const IpSource &source, const DnsQuery::Result &query)
{
    return query.answered() ? judgeAddress(source, query.address) : Result{Verdict::Failed, {}, {}};
}

QString SourceAnswer::whyNot(const Result &answer, const DnsQuery::Result &query)
{
    if (!query.answered())
        return query.failure;
    return answer.verdict == Verdict::Address ? QString()
                                              : answer.refusal + QStringLiteral(": ") + query.address;
}

SourceAnswer::Result SourceAnswer::judgeAddress(const IpSource &source, const QString &text)
{
    if (!isAddress(text))
        return {Verdict::NotAnAddress, {}, {}};
    QHostAddress address(text);
    QString shown = text;
    // A dual-stack server tells an IPv4 caller its address in this form: it is that IPv4 address.
    if (address.isInSubnet(QHostAddress::parseSubnet(QStringLiteral("::ffff:0:0/96")))) {
        address = QHostAddress(address.toIPv4Address());
        shown = address.toString();
    }
    // A service that promises one family and answers with the other is not to be believed: some
    // other machine on the way answered.
    const QAbstractSocket::NetworkLayerProtocol protocol = address.protocol();
    if ((source.family() == IpSource::Family::IPv4 && protocol != QAbstractSocket::IPv4Protocol) ||
        (source.family() == IpSource::Family::IPv6 && protocol != QAbstractSocket::IPv6Protocol))
        return {Verdict::NotAnAddress, {}, QStringLiteral("an address of the other family")};
    if (const QString why = unroutable(address); !why.isEmpty())
        return {Verdict::NotAnAddress, {}, why};
    if (isPrivate(address)) {
        if (IpSourceList::isOffered(source))
            return {Verdict::NotAnAddress, {}, QStringLiteral("a private address from a public service")};
        qCInfo(lcLookup).noquote() << source.displayName() << "answered the private address" << shown
                                   << "- taken, as a source of your own may be inside a private network";
    }
    return {Verdict::Address, shown, {}};
}

bool SourceAnswer::isAddress(const QString &text)
{
    // The longest form is an IPv6 address ending in dotted IPv4: 45 characters.
    if (text.isEmpty() || text.size() > 45)
        return false;
    for (const QChar c : text) {
        const bool allowed = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                             (c >= u'A' && c <= u'F') || c == u'.' || c == u':';
        if (!allowed)
            return false;
    }
    QHostAddress address;
    if (!address.setAddress(text))
        return false;
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return address.toString() == text; // refuses "1.2.3", "010.1.1.1" and hex forms
    return address.protocol() == QAbstractSocket::IPv6Protocol;
}

#include "SourceAnswer.h"

#include <QHostAddress>

PageFetcher::Body SourceAnswer::bodyFor(const IpSource &source)
{
    return source.productPage ? PageFetcher::Body::Html : PageFetcher::Body::PlainText;
}

SourceAnswer::Result SourceAnswer::judge(const IpSource &source, const PageFetcher::Result &fetch)
{
    if (source.productPage) {
        if (!fetch.LocationURL.toString().contains(QLatin1String("GetExternalIP"), Qt::CaseInsensitive))
            return {Verdict::Elsewhere, {}};
        const QString pageText = fetch.BodyInnerHTML;
        // An empty page would otherwise replace a good address with nothing and mail that as a change.
        if (fetch.failed || pageText.isEmpty() ||
            pageText.contains(QLatin1String("error"), Qt::CaseInsensitive))
            return {Verdict::Failed, {}};
        return {Verdict::Address, pageText};
    }
    // A service's fetcher asks nothing but the service (a redirect elsewhere has failed it), so whatever
    // it completed with is the service's answer.
    if (fetch.failed)
        return {Verdict::Failed, {}};
    return judgeAddress(source, fetch.BodyInnerHTML.trimmed());
}

SourceAnswer::Result SourceAnswer::judge(const IpSource &source, const DnsQuery::Result &query)
{
    return query.answered() ? judgeAddress(source, query.address) : Result{Verdict::Failed, {}};
}

QString SourceAnswer::whyNot(const Result &answer, const DnsQuery::Result &query)
{
    if (!query.answered())
        return query.failure;
    return answer.verdict == Verdict::Address
               ? QString()
               : QStringLiteral("an address of the other family: ") + query.address;
}

SourceAnswer::Result SourceAnswer::judgeAddress(const IpSource &source, const QString &text)
{
    if (!isAddress(text))
        return {Verdict::NotAnAddress, {}};
    // A service that promises one family and answers with the other is not to be believed: some
    // other machine on the way answered.
    const QAbstractSocket::NetworkLayerProtocol protocol = QHostAddress(text).protocol();
    if ((source.family() == IpSource::Family::IPv4 && protocol != QAbstractSocket::IPv4Protocol) ||
        (source.family() == IpSource::Family::IPv6 && protocol != QAbstractSocket::IPv6Protocol))
        return {Verdict::NotAnAddress, {}};
    return {Verdict::Address, text};
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

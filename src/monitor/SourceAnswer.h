#pragma once

#include "DnsQuery.h"
#include "IpSource.h"
#include "PageFetcher.h"

#include <QString>

/// What a completed fetch of a source gave. The product's page keeps its own rule: the body as it
/// stands, failed when it is empty or contains "error", and no answer at all from a location that is
/// not the page. A public service must answer with nothing but an address, white space around it
/// aside, from the address asked for: the fetcher follows no redirect of a service but the one to the
/// same address over https, and fails it at any other.
namespace SourceAnswer {
enum class Verdict {
    Address,      ///< address holds the text to show and store
    Failed,       ///< no page: no connection, HTTP error, time-out, oversized, a service's redirect to
                  ///< another address, or an error page
    NotAnAddress, ///< a page, but not an address (a captive portal, an error text)
    Elsewhere,    ///< the product's page ended at another location: no answer of this source
};

struct Result {
    Verdict verdict = Verdict::Failed;
    QString address;
    /// Why a bare address was not taken, in a few words: "a loopback address"; else empty.
    QString refusal;
};

/// How the fetcher is to take the source's body.
PageFetcher::Body bodyFor(const IpSource &source);
/// Judges a completed fetch as an answer of source.
Result judge(const IpSource &source, const PageFetcher::Result &fetch);
/// Judges a DNS source's answer: failed with the query, refused when the address is of the other
/// family than the source promises.
Result judge(const IpSource &source, const DnsQuery::Result &query);
/// Why a source's answer is no address, in a few words for the log and the Test; empty for an address.
QString whyNot(const Result &answer, const DnsQuery::Result &query);
/// A bare address as a source other than the product's page gave it. An IPv4-mapped IPv6 address
/// is the IPv4 address it carries. Refused: an address of the other family than the source promises,
/// one that is nobody's external address (loopback, unspecified, broadcast, multicast, link-local),
/// and a private one (RFC 1918, 100.64.0.0/10, unique local) from an offered public service.
Result judgeAddress(const IpSource &source, const QString &address);
/// True only for a whole IPv4 address in dotted decimal (no leading zeros, no short forms) or a
/// whole IPv6 address without a scope id, brackets or anything else around it.
bool isAddress(const QString &text);
} // namespace SourceAnswer

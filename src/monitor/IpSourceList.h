#pragma once

#include "IpSource.h"

#include <QList>
#include <optional>

/// The "ipSources" setting: the sources in the order they are tried, as one line of text.
/// Entries are separated by white space; "default" stands for the product's page, any other entry is
/// an http or https URL or a dns:// address; a leading "-" keeps an entry in the list but switched off.
///     default -https://api.ipify.org https://icanhazip.com
/// The text is read as hostile: anything malformed yields the default list, the product's page alone.
namespace IpSourceList {
inline constexpr char ProductToken[] = "default";
inline constexpr qsizetype MaxEntries = 16;
inline constexpr qsizetype MaxUrlLength = 1024;

/// Services that tell the caller's address in a DNS answer, asked of their own name servers (see
/// DnsQuery); none is in the defaults.
inline constexpr char OpenDnsIPv4[] = "dns://resolver1.opendns.com/myip.opendns.com?type=A";
inline constexpr char OpenDnsIPv6[] = "dns://resolver1.opendns.com/myip.opendns.com?type=AAAA";
inline constexpr char GoogleDns[] = "dns://ns1.google.com/o-o.myaddr.l.google.com?type=TXT";

/// Well-known services that answer with the caller's address as plain text or in a DNS answer, in the
/// dialog's order.
QList<IpSource> publicServices();
/// One of publicServices(): its answer must be a public address, where a source of the user's own may
/// sit in a private network.
bool isOffered(const IpSource &source);
/// What a user who changed nothing has: the product's page alone.
QList<IpSource> defaults();

/// The stored text as a list; nullopt when it is malformed: empty, too long, an entry that is neither
/// "default" nor a usable URL, an entry listed twice, or no entry switched on.
std::optional<QList<IpSource>> parse(const QString &text);
/// parse(), or the defaults when the text is malformed.
QList<IpSource> read(const QString &text);
/// The text parse() reads back as the same list.
QString format(const QList<IpSource> &sources);

/// An http or https URL with a host and without user name, password or fragment, or a dns:// address
/// DnsQuery reads; else nullopt.
std::optional<QUrl> serviceUrl(const QString &text);
/// The switched-on sources in order, the product's page pointed at page.
QList<IpSource> active(const QList<IpSource> &sources, const QUrl &page);
} // namespace IpSourceList

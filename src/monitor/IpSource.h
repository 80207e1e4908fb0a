#pragma once

#include <QString>
#include <QUrl>

/// One place the external address can come from: the product's own page, whose body is taken as it
/// stands, a public service that answers with the caller's address as plain text, or a name server
/// that tells it in a DNS answer (a dns:// url, see DnsQuery).
struct IpSource {
    bool productPage = false;
    /// For the product's page, empty until the list is put to use (the build's host or NETQUILL_IP_HOST).
    QUrl url;
    /// Switched off, a source keeps its place in the list but is not asked.
    bool enabled = true;

    bool operator==(const IpSource &) const = default;

    /// How the dialog and the tool tips name the source.
    QString displayName() const;
    /// Asked over DNS rather than fetched.
    bool isDns() const;

    /// The address family a source promises: a DNS query of type A or AAAA, or a service's host named
    /// for one family (api4.ipify.org, ipv6.icanhazip.com, v4.example.net); Any for the rest.
    enum class Family { Any, IPv4, IPv6 };
    Family family() const;
};

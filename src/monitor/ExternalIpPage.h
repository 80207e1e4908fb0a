#pragma once

#include <QString>
#include <QUrl>

/// Where the external-IP page lives: the build's host, or NETQUILL_IP_HOST ("host" or "host:port").
namespace ExternalIpPage {
inline constexpr char Path[] = "/extras/GetExternalIP.asp";

/// The page address for a host text; an empty URL when the text is not a usable host[:port].
QUrl urlForHost(const QString &host);
/// The page address in force: NETQUILL_IP_HOST when it is set and usable, else the build's host.
QUrl url();
} // namespace ExternalIpPage

#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

/// Where whois queries go: the build's server, or NETQUILL_WHOIS_HOST ("host" or "host:port").
namespace WhoisServer {
inline constexpr quint16 DefaultPort = 43;

struct Endpoint {
    QString host;
    quint16 port = DefaultPort;
};

/// The server named by a host text; empty when the text is not a usable host[:port].
std::optional<Endpoint> parse(const QString &text);
/// The server in force: NETQUILL_WHOIS_HOST when it is set and usable, else the build's server.
Endpoint current();
} // namespace WhoisServer

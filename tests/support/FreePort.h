#pragma once

#include <QHostAddress>
#include <QTcpServer>

namespace FreePort {
/// A port on 127.0.0.1 that was free a moment ago, for servers that must be told their port.
inline quint16 pick()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}
} // namespace FreePort

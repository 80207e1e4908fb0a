#pragma once

#include <QByteArray>
#include <QString>

namespace DefaultRoute {
/// The interface holding the main routing table's IPv4 default route with the lowest metric, from
/// the kernel's table as /proc/net/route lists it (the main table only: a default that policy rules
/// send elsewhere, as full-tunnel VPNs do, is not the one the machine's own network uses); empty when
/// there is none or the table cannot be read.
QString interfaceName();
/// The same, from the text of such a table.
QString interfaceIn(const QByteArray &table);
} // namespace DefaultRoute

#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

/// The machine's own IPv6 address as others may know it for long: on the interface holding the main
/// routing table's IPv6 default route with the lowest metric, an address neither temporary (a privacy
/// address, replaced every day or so) nor deprecated, tentative or refused by duplicate address
/// detection. A global unicast address (2000::/3) comes before a unique local one (fc00::/7); link-local
/// and other addresses never qualify. Read from the kernel's own flags, which Qt does not give.
namespace StableAddress6 {
/// The address in Qt's usual text; empty when there is no IPv6 default route or no such address on its
/// interface, on failure (logged), and on systems other than Linux.
QString find();

#ifdef Q_OS_LINUX
/// One IPv6 address of an interface, as the kernel lists it.
struct Entry {
    int interfaceIndex = 0;
    QHostAddress address;
    quint32 flags = 0;               ///< the kernel's IFA_F_* flags
    quint32 preferredLifetime = ~0u; ///< seconds left; all ones for ever
};
/// Which address of `entries` on `interfaceIndex` find() gives, by the rule above; of several alike, the
/// lowest, so that the choice does not follow the order the kernel happens to list them in.
QString pick(const QList<Entry> &entries, int interfaceIndex);
#endif
} // namespace StableAddress6

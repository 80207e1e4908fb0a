#pragma once

#include "LookupResult.h"

#include <QObject>

class LookupCycle;
class PageFetcher;
class SettingsStore;

/// The IPv6 half of a lookup while IPv4 and IPv6 are followed apart: its own sources (those that answer
/// IPv6), fetcher, confirmation and record (OldInternal6, OldExternal6). The internal address is the
/// stable one of the interface holding the IPv6 default route; a machine without one has no IPv6, which
/// is no outage: the track then asks nothing.
class IPv6Track : public QObject {
    Q_OBJECT
public:
    /// localAddress: the internal IPv6 address, empty when the machine has none.
    IPv6Track(SettingsStore &store, std::function<QString()> localAddress, QObject *parent = nullptr);

    LookupCycle *cycle() { return m_cycle; }
    /// A lookup now; ended follows, at once when the machine has no IPv6.
    void Refresh();
    bool busy() const;
    void Stop();

signals:
    void ended(const LookupResult::IPv6 &result);

private:
    PageFetcher *m_fetcher;
    LookupCycle *m_cycle;
    std::function<QString()> m_localAddress;
    QString m_local; // the internal address of the lookup under way
};

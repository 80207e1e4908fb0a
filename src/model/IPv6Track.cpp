#include "IPv6Track.h"

#include "ExternalIpPage.h"
#include "LookupCycle.h"
#include "LookupLog.h"
#include "PageFetcher.h"

#include <QTimer>

IPv6Track::IPv6Track(SettingsStore &store, std::function<QString()> localAddress, QObject *parent)
    : QObject(parent), m_fetcher(new PageFetcher(this)),
      m_cycle(new LookupCycle(
          store, m_fetcher, ExternalIpPage::url(), [this] { return m_local; }, this)),
      m_localAddress(std::move(localAddress))
{
    m_cycle->setFamily(IpSource::Family::IPv6);
    m_cycle->setKeys(SettingKeys::OldInternal6, SettingKeys::OldExternal6);
    // Its status texts stay in the log: the status line is the IPv4 lookup's.
    connect(m_cycle, &LookupCycle::statusChanged, this,
            [](const QString &text) { qCDebug(lcLookup).noquote() << "IPv6:" << text; });
    connect(m_cycle, &LookupCycle::finished, this,
            [this](const LookupResult &result) {
                LookupResult::IPv6 track;
                track.outcome = result.outcome;
                track.current = result.current;
                track.previous = result.previous;
                track.source = result.source;
                track.changed = result.changed;
                track.externalChanged = result.externalChanged;
                track.internalChanged = result.internalChanged;
                track.cause = result.cause;
                if (result.outcome == LookupResult::Outcome::NoAnswer)
                    qCWarning(lcLookup)
                        << "No source that answers IPv6 is switched on: the IPv6 address is not looked up";
                else if (!result.answered())
                    qCWarning(lcLookup).noquote() << "IPv6 lookup failed:" << result.cause;
                emit ended(track);
            });
}

void IPv6Track::Refresh()
{
    m_local = m_localAddress();
    if (!m_local.isEmpty())
        return m_cycle->Refresh();
    qCInfo(lcLookup)
        << "No IPv6 here (no default route or no stable global address): the IPv6 lookup is left out";
    m_cycle->Stop();
    LookupResult::IPv6 none;
    none.absent = true;
    none.previous = m_cycle->previous();
    // Ended after the caller's own start, as a lookup would.
    QTimer::singleShot(0, this, [this, none] { emit ended(none); });
}

bool IPv6Track::busy() const
{
    return m_cycle->busy();
}

void IPv6Track::Stop()
{
    m_cycle->Stop();
}

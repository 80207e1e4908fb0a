#include "LookupCycle.h"

#include "PageFetcher.h"
#include "SettingsStore.h"

LookupCycle::LookupCycle(SettingsStore &store, PageFetcher *fetcher, QUrl page, std::function<QString()> localIp,
                         QObject *parent)
    : QObject(parent), m_store(store), m_fetcher(fetcher), m_page(std::move(page)), m_localIp(std::move(localIp))
{
    connect(m_fetcher, &PageFetcher::DownloadComplete, this, &LookupCycle::DownloadComplete);
}

void LookupCycle::LoadPrevious()
{
    m_previous.internal = m_store.GetSetting(SettingKeys::OldInternal);
    m_previous.external = m_store.GetSetting(SettingKeys::OldExternal);
}

void LookupCycle::Refresh()
{
    emit statusChanged(StatusLooking);
    m_fetcher->Navigate(m_page);
}

void LookupCycle::DownloadComplete()
{
    if (!m_fetcher->LocationURL().toString().contains(QLatin1String("GetExternalIP"), Qt::CaseInsensitive))
        return;
    const QString pageText = m_fetcher->BodyInnerHTML();
    // A failed fetch ends exactly as an error page does: nothing but the status changes. So does an
    // empty page, which would otherwise replace a good address with nothing and mail that as a change.
    if (m_fetcher->Failed() || pageText.isEmpty() ||
        pageText.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
        emit statusChanged(StatusFailed);
        return;
    }
    const IpSnapshot current{m_localIp(), pageText};
    emit addressesShown(current);
    const bool changed = current.changedSince(m_previous);
    m_previous = current;
    // One save for both: a crash leaves the old pair or the new pair, never one of each.
    m_store.SaveSettings(
        {{SettingKeys::OldExternal, current.external}, {SettingKeys::OldInternal, current.internal}});
    emit lookupCompleted(current, changed);
    emit statusChanged(StatusFinished);
}

#include "LookupCycle.h"

#include "IpSourceList.h"
#include "LookupLog.h"
#include "PageFetcher.h"
#include "SettingsStore.h"
#include "SourceAnswer.h"

LookupCycle::LookupCycle(SettingsStore &store, PageFetcher *fetcher, QUrl page,
                         std::function<QString()> localIp, QObject *parent)
    : QObject(parent), m_store(store), m_fetcher(fetcher), m_page(std::move(page)),
      m_localIp(std::move(localIp)), m_sources(IpSourceList::active(IpSourceList::defaults(), m_page))
{
    connect(m_fetcher, &PageFetcher::DownloadComplete, this, &LookupCycle::DownloadComplete);
}

void LookupCycle::setSources(const QList<IpSource> &sources)
{
    const QList<IpSource> on = IpSourceList::active(sources, m_page);
    m_sources = on.isEmpty() ? IpSourceList::active(IpSourceList::defaults(), m_page) : on;
}

void LookupCycle::LoadPrevious()
{
    m_previous.internal = m_store.GetSetting(SettingKeys::OldInternal);
    m_previous.external = m_store.GetSetting(SettingKeys::OldExternal);
}

void LookupCycle::Refresh()
{
    emit statusChanged(StatusLooking);
    m_chain = m_sources;
    m_asking = 0;
    m_anyFailed = false;
    askNext();
}

void LookupCycle::Stop()
{
    m_asking = -1;
    m_fetcher->Stop();
}

void LookupCycle::askNext()
{
    const IpSource &source = m_chain.at(m_asking);
    m_fetcher->Navigate(source.url, SourceAnswer::bodyFor(source));
}

void LookupCycle::DownloadComplete(const PageFetcher::Result &fetch)
{
    if (m_asking < 0 || m_asking >= m_chain.size())
        return;
    const IpSource source = m_chain.at(m_asking);
    const SourceAnswer::Result answer = SourceAnswer::judge(source, fetch);
    if (answer.verdict != SourceAnswer::Verdict::Address) {
        // The product's page completing at another location is no answer, but no failure either: on its
        // own it changes nothing, as with the product's page alone.
        const bool failed = answer.verdict != SourceAnswer::Verdict::Elsewhere;
        m_anyFailed = m_anyFailed || failed;
        if (answer.verdict == SourceAnswer::Verdict::NotAnAddress)
            qCWarning(lcLookup) << source.displayName()
                                << "answered no address:" << fetch.BodyInnerHTML.trimmed().left(40);
        else if (failed)
            qCWarning(lcLookup) << source.displayName()
                                << (fetch.failed ? "could not be fetched"
                                                 : "answered an empty page or one reporting an error");
        if (++m_asking < m_chain.size()) {
            askNext();
            return;
        }
        m_asking = -1;
        // A failed fetch ends exactly as an error page does: nothing but the status changes.
        LookupResult result;
        result.previous = m_previous;
        if (m_anyFailed) {
            result.outcome = LookupResult::Outcome::Failed;
            result.cause = StatusFailed;
            emit statusChanged(StatusFailed);
        }
        emit finished(result);
        return;
    }
    // Done before anything is reported: a receiver may start the next lookup from here.
    m_asking = -1;
    LookupResult result{
        LookupResult::Outcome::Answered, {m_localIp(), answer.address}, m_previous, source.displayName()};
    emit addressesShown(result.current);
    result.changed = result.current.changedSince(m_previous);
    if (m_storing) {
        m_previous = result.current;
        // One save for both: a crash leaves the old pair or the new pair, never one of each. It goes
        // to the disk behind the status, which has nothing to wait for.
        m_store.SaveSettings({{SettingKeys::OldExternal, result.current.external},
                              {SettingKeys::OldInternal, result.current.internal}});
    }
    emit finished(result);
    emit statusChanged(StatusFinished);
}

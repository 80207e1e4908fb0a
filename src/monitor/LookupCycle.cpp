#include "LookupCycle.h"

#include "IpSourceList.h"
#include "LookupLog.h"
#include "PageFetcher.h"
#include "SettingsStore.h"
#include "SourceAnswer.h"

#include <QHostAddress>

LookupCycle::LookupCycle(SettingsStore &store, PageFetcher *fetcher, QUrl page,
                         std::function<QString()> localIp, QObject *parent)
    : QObject(parent), m_store(store), m_fetcher(fetcher), m_dns(new DnsQuery(this)), m_page(std::move(page)),
      m_localIp(std::move(localIp)), m_sources(IpSourceList::active(IpSourceList::defaults(), m_page))
{
    connect(m_fetcher, &PageFetcher::DownloadComplete, this, &LookupCycle::DownloadComplete);
    connect(m_dns, &DnsQuery::finished, this, &LookupCycle::DnsAnswered);
}

void LookupCycle::setSources(const QList<IpSource> &sources)
{
    QList<IpSource> on = IpSourceList::active(sources, m_page);
    if (m_family != IpSource::Family::Any) {
        // A source of either family answers as the connection goes; only the IPv4 track, which such a
        // connection usually takes, may ask one.
        on.removeIf([this](const IpSource &source) {
            IpSource::Family family = source.family();
            // An address for a host is reached over its own family only.
            if (const QHostAddress literal(source.url.host());
                family == IpSource::Family::Any && !literal.isNull())
                family = literal.protocol() == QAbstractSocket::IPv6Protocol ? IpSource::Family::IPv6
                                                                             : IpSource::Family::IPv4;
            return family != m_family &&
                   !(m_family == IpSource::Family::IPv4 && family == IpSource::Family::Any);
        });
        m_sources = on;
        return;
    }
    m_sources = on.isEmpty() ? IpSourceList::active(IpSourceList::defaults(), m_page) : on;
}

void LookupCycle::LoadPrevious()
{
    m_previous.internal = m_store.GetSetting(m_internalKey);
    m_previous.external = m_store.GetSetting(m_externalKey);
}

void LookupCycle::Refresh()
{
    emit statusChanged(StatusLooking);
    m_pauses.load();
    m_chain = m_sources;
    m_asking = 0;
    m_anyFailed = false;
    m_vote.reset();
    askNext();
}

void LookupCycle::Stop()
{
    m_asking = -1;
    m_vote.reset();
    m_fetcher->Stop();
    m_dns->stop();
}

bool LookupCycle::aside(const IpSource &source) const
{
    return !source.productPage && m_pauses.until(source.url) > QDateTime::currentDateTimeUtc();
}

void LookupCycle::askNext()
{
    // A source that asked for a pause is not asked meanwhile: the next one is.
    while (m_asking < m_chain.size() && aside(m_chain.at(m_asking))) {
        qCInfo(lcLookup).noquote() << m_chain.at(m_asking).displayName() << "is left aside until"
                                   << m_pauses.until(m_chain.at(m_asking).url).toString(Qt::ISODate);
        m_anyFailed = true;
        ++m_asking;
    }
    if (m_asking >= m_chain.size())
        return EndUnanswered();
    const IpSource &source = m_chain.at(m_asking);
    if (source.isDns())
        m_dns->ask(source.url);
    else
        m_fetcher->Navigate(source.url, SourceAnswer::bodyFor(source));
}

bool LookupCycle::askNextOther()
{
    // Another host, or another way of asking: a source that shares the first's server shares its faults.
    const auto other = [this](const IpSource &source) {
        return (source.isDns() != m_first.isDns() || source.url.host() != m_first.url.host()) &&
               !aside(source);
    };
    while (++m_asking < m_chain.size()) {
        if (other(m_chain.at(m_asking))) {
            askNext();
            return true;
        }
    }
    return false;
}

void LookupCycle::DownloadComplete(const PageFetcher::Result &fetch)
{
    if (m_asking < 0 || m_asking >= m_chain.size())
        return;
    const IpSource &source = m_chain.at(m_asking);
    if (fetch.retryAfterSeconds >= 0 && !source.productPage) {
        // Only a lookup that stores keeps it for the next run: --print changes nothing.
        const QDateTime until = m_pauses.pause(source.url, fetch.retryAfterSeconds, m_storing);
        qCWarning(lcLookup).noquote()
            << source.displayName() << "asked for a pause; left aside until" << until.toString(Qt::ISODate);
    }
    const SourceAnswer::Result answer = SourceAnswer::judge(source, fetch);
    QString why;
    if (!answer.refusal.isEmpty())
        why = QStringLiteral("answered %1, refused: %2").arg(fetch.BodyInnerHTML.trimmed(), answer.refusal);
    else if (answer.verdict == SourceAnswer::Verdict::NotAnAddress)
        why = QStringLiteral("answered no address: ") + fetch.BodyInnerHTML.trimmed().left(40);
    else if (answer.verdict == SourceAnswer::Verdict::Failed)
        why = fetch.failed ? QStringLiteral("could not be fetched")
                           : QStringLiteral("answered an empty page or one reporting an error");
    Answered(answer, why);
}

void LookupCycle::DnsAnswered(const DnsQuery::Result &result)
{
    if (m_asking < 0 || m_asking >= m_chain.size())
        return;
    const SourceAnswer::Result answer = SourceAnswer::judge(m_chain.at(m_asking), result);
    Answered(answer, QStringLiteral("gave no address: ") + SourceAnswer::whyNot(answer, result));
}

void LookupCycle::Answered(const SourceAnswer::Result &answer, const QString &why)
{
    const IpSource source = m_chain.at(m_asking);
    if (answer.verdict != SourceAnswer::Verdict::Address && !why.isEmpty())
        qCWarning(lcLookup).noquote() << source.displayName() << why;
    if (m_vote)
        return Vote(source, answer.verdict == SourceAnswer::Verdict::Address ? std::optional(answer.address)
                                                                             : std::nullopt);
    if (answer.verdict == SourceAnswer::Verdict::Address && !ofTheFamily(answer.address)) {
        qCWarning(lcLookup).noquote() << source.displayName() << "answered" << answer.address.left(45)
                                      << "- not an address of the family this lookup follows";
        m_anyFailed = true;
        ++m_asking;
        return askNext();
    }
    if (answer.verdict == SourceAnswer::Verdict::Address)
        return Judge(source, answer.address);
    // The product's page completing at another location is no answer, but no failure either: on its
    // own it changes nothing, as with the product's page alone.
    m_anyFailed = m_anyFailed || answer.verdict != SourceAnswer::Verdict::Elsewhere;
    ++m_asking;
    askNext();
}

void LookupCycle::EndUnanswered()
{
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
}

bool LookupCycle::ofTheFamily(const QString &address) const
{
    if (m_family == IpSource::Family::Any)
        return true;
    const QHostAddress parsed(address);
    return parsed.protocol() == (m_family == IpSource::Family::IPv4 ? QAbstractSocket::IPv4Protocol
                                                                    : QAbstractSocket::IPv6Protocol);
}

bool LookupCycle::externalChanged(const QString &before, const QString &now, bool productPage) const
{
    if (before == IpSnapshot::None || before == now)
        return false;
    QHostAddress old, current;
    if (productPage || !old.setAddress(before) || !current.setAddress(now) ||
        old.protocol() != QAbstractSocket::IPv6Protocol ||
        current.protocol() != QAbstractSocket::IPv6Protocol)
        return true;
    return !current.isInSubnet(old, m_ipv6Prefix);
}

void LookupCycle::Judge(const IpSource &source, const QString &address)
{
    const bool changed = externalChanged(m_previous.external, address, source.productPage);
    if (!m_confirming || !changed || m_chain.size() < 2)
        return EndAnswered(address, source.displayName(), {}, source.productPage);
    if (!SourceAnswer::isAddress(address)) {
        qCInfo(lcLookup).noquote() << "The new address from" << source.displayName()
                                   << "is not a bare address and cannot be confirmed by another source";
        return EndAnswered(address, source.displayName(), {}, source.productPage);
    }
    m_vote.emplace(address, source.displayName());
    m_first = source;
    if (!askNextOther())
        EndVote();
}

void LookupCycle::Vote(const IpSource &source, const std::optional<QString> &address)
{
    if (address && !m_vote->add(*address, source.displayName(), source.family()))
        qCInfo(lcLookup).noquote() << source.displayName() << "answered" << address->left(45)
                                   << "which can neither confirm nor contradict" << m_vote->winner().text;
    if (m_vote->verdict() == ChangeVote::Verdict::Open && askNextOther())
        return;
    EndVote();
}

bool LookupCycle::byProductPage(const ChangeVote &vote) const
{
    return m_first.productPage && vote.winner().source == m_first.displayName();
}

void LookupCycle::EndVote()
{
    const ChangeVote vote = *std::exchange(m_vote, std::nullopt);
    switch (vote.verdict()) {
    case ChangeVote::Verdict::Confirmed:
        qCInfo(lcLookup).noquote() << "The new address" << vote.winner().text << "is confirmed by"
                                   << vote.agreeing().join(QStringLiteral(", "));
        return EndAnswered(vote.winner().text, vote.winner().source, vote.agreeing(), byProductPage(vote));
    case ChangeVote::Verdict::Open:
        // A real change must not be missed because the other services are down.
        if (vote.unanswered()) {
            qCWarning(lcLookup).noquote()
                << "The new address" << vote.winner().text << "from" << vote.winner().source
                << "was not confirmed: no other source answered";
            return EndAnswered(vote.winner().text, vote.winner().source, {}, byProductPage(vote));
        }
        break;
    case ChangeVote::Verdict::Disagreed:
        break;
    }
    m_asking = -1;
    const QString status = StatusDisagree + vote.answers();
    qCWarning(lcLookup).noquote() << "No majority for a new address; nothing is stored:" << vote.answers();
    LookupResult result;
    result.outcome = LookupResult::Outcome::Disagreement;
    result.previous = m_previous;
    result.cause = status;
    emit statusChanged(status);
    emit finished(result);
}

void LookupCycle::EndAnswered(const QString &external, const QString &source, const QStringList &confirmedBy,
                              bool productPage)
{
    // Done before anything is reported: a receiver may start the next lookup from here.
    m_asking = -1;
    LookupResult result;
    result.outcome = LookupResult::Outcome::Answered;
    result.current = {m_localIp(), external};
    result.previous = m_previous;
    result.source = source;
    result.confirmedBy = confirmedBy;
    emit addressesShown(result.current);
    result.externalChanged = externalChanged(m_previous.external, external, productPage);
    result.internalChanged =
        result.current.internal != m_previous.internal && m_previous.internal != IpSnapshot::None;
    result.changed = result.externalChanged || result.internalChanged;
    if (m_storing) {
        m_previous = result.current;
        // One save for both: a crash leaves the old pair or the new pair, never one of each. It goes
        // to the disk behind the status, which has nothing to wait for.
        m_store.SaveSettings(
            {{m_externalKey, result.current.external}, {m_internalKey, result.current.internal}});
    }
    emit finished(result);
    emit statusChanged(StatusFinished);
}

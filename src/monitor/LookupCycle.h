#pragma once

#include "ChangeVote.h"
#include "DnsQuery.h"
#include "IpSnapshot.h"
#include "IpSource.h"
#include "LookupResult.h"
#include "PageFetcher.h"
#include "SettingKeys.h"
#include "SourceAnswer.h"
#include "SourcePauses.h"

#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <functional>
#include <optional>

class SettingsStore;

/// One lookup: fetch the external address, take the local address, show both, detect a change
/// against the previous snapshot ("0" never counts), and store the new previous addresses.
/// The sources are asked in order until one answers; the status reports a failure only when all
/// failed. Until setSources, the product's page is the only source.
/// With confirmation on, an external address that differs from the stored one is first asked of the
/// next sources of another host or method (ChangeVote); without a majority the lookup ends in
/// disagreement and nothing is stored.
class LookupCycle : public QObject {
    Q_OBJECT
public:
    LookupCycle(SettingsStore &store, PageFetcher *fetcher, QUrl page, std::function<QString()> localIp,
                QObject *parent = nullptr);

    /// The Refresh operation: status text, then the first source's fetch. A pending lookup is dropped
    /// with the rest of its sources.
    void Refresh();

    /// The sources from the next Refresh on: the switched-on ones in order, the product's page at the
    /// page given at construction. A list with none switched on leaves the product's page alone.
    void setSources(const QList<IpSource> &sources);
    QList<IpSource> sources() const { return m_sources; }
    /// The product's page as given at construction.
    QUrl productPage() const { return m_page; }

    /// One family's track (IPv4 or IPv6) in place of the one address of any family: only its sources are
    /// asked (for IPv4 also those of either family), an answer of the other family is refused, and a
    /// list without one of its sources asks nothing and ends with no answer. Before setSources.
    void setFamily(IpSource::Family family) { m_family = family; }
    IpSource::Family family() const { return m_family; }
    /// Where the previous addresses are kept: OldInternal and OldExternal unless told otherwise.
    void setKeys(const SettingKeys::Key &internal, const SettingKeys::Key &external)
    {
        m_internalKey = internal;
        m_externalKey = external;
    }
    /// On by default; it matters only while two or more sources are switched on.
    void setConfirming(bool on) { m_confirming = on; }
    /// Two IPv6 answers of a public source that share this many leading bits (64 by default) are one
    /// address for the change test: the system replaces its temporary address within its prefix every
    /// day or so. The newer one is shown and stored. The product's page is compared as it answers.
    void setIPv6Prefix(int bits) { m_ipv6Prefix = qBound(1, bits, 128); }
    /// Whether `now` is another external address than `before` by that rule.
    bool externalChanged(const QString &before, const QString &now, bool productPage) const;

    /// Off: a lookup only looks; the addresses it finds are neither stored nor kept as the previous
    /// ones, and the change it reports is against those stored before. On by default.
    void setStoring(bool on) { m_storing = on; }
    bool storing() const { return m_storing; }

    /// Until when a source that asked for a pause is left aside (UTC); invalid when it is not.
    QDateTime asideUntil(const QUrl &url) const { return m_pauses.until(url); }
    /// The file the pauses are kept in, read at each Refresh and written while storing; without one
    /// they last as long as this object.
    void setPausesFile(const QString &path) { m_pauses = SourcePauses(path); }

    /// Drops a pending lookup without reporting anything.
    void Stop();

    /// True from Refresh until the lookup has ended, well or not.
    bool busy() const { return m_asking >= 0; }
    /// The pending lookup asks one source only: a new one replaces its fetch, as a new Navigate replaces
    /// a pending one. A chain of several is better left to run to its end.
    bool replaceable() const { return m_chain.size() == 1; }

    /// Restores the previous snapshot from the store ("0" when nothing was recorded yet).
    void LoadPrevious();
    IpSnapshot previous() const { return m_previous; }

    static inline const QString StatusLooking = QStringLiteral("Looking up your IPs...");
    static inline const QString StatusFinished = QStringLiteral("Finished looking up IPs");
    static inline const QString StatusFailed = QStringLiteral("Error: Connection not available.");
    /// The longest a source that asked for a pause (HTTP 429 or 503 with Retry-After) is left aside.
    static constexpr qint64 MaxAsideSeconds = SourcePauses::MaxSeconds;

    static inline const QString StatusDisagree = QStringLiteral("Error: Sources disagree: ");

signals:
    void statusChanged(const QString &text);
    /// The address labels are to show these texts.
    void addressesShown(const IpSnapshot &current);
    /// A lookup ended, well or not; an answered one has stored its addresses. Before the final status
    /// when a source answered, after it when every source failed.
    void finished(const LookupResult &result);

private:
    void DownloadComplete(const PageFetcher::Result &fetch);
    void DnsAnswered(const DnsQuery::Result &answer);
    /// What the source being asked gave.
    void Answered(const SourceAnswer::Result &answer, const QString &why);
    void askNext();
    /// Moves on to the next source of another host or method than the first answer's; false when none is
    /// left.
    bool askNextOther();
    /// A first answer that changes the stored address: asks for confirmation, or ends on it.
    void Judge(const IpSource &source, const QString &address);
    void Vote(const IpSource &source, const std::optional<QString> &address);
    void EndVote();
    bool byProductPage(const ChangeVote &vote) const;
    bool ofTheFamily(const QString &address) const;
    /// productPage: the answer is the product page's, compared as it stands.
    void EndAnswered(const QString &external, const QString &source, const QStringList &confirmedBy = {},
                     bool productPage = false);
    /// Every source failed, was set aside or only the product's page answered from elsewhere.
    void EndUnanswered();
    bool aside(const IpSource &source) const;

    SettingsStore &m_store;
    PageFetcher *m_fetcher;
    DnsQuery *m_dns;
    QUrl m_page;
    std::function<QString()> m_localIp;
    IpSnapshot m_previous{IpSnapshot::None, IpSnapshot::None};
    QList<IpSource> m_sources;
    QList<IpSource> m_chain; // the pending lookup's sources, kept apart from later changes
    qsizetype m_asking = -1; // index into m_chain; -1 while no lookup is pending
    bool m_anyFailed = false;
    bool m_storing = true;
    bool m_confirming = true;
    IpSource::Family m_family = IpSource::Family::Any;
    SettingKeys::Key m_internalKey = SettingKeys::OldInternal, m_externalKey = SettingKeys::OldExternal;
    int m_ipv6Prefix = 64;
    SourcePauses m_pauses;            // the sources that asked to be left alone for a while
    std::optional<ChangeVote> m_vote; // the pending lookup's change, while others are asked about it
    IpSource m_first;                 // the source of the vote's first answer
};

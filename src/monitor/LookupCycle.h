#pragma once

#include "IpSnapshot.h"
#include "IpSource.h"
#include "LookupResult.h"
#include "PageFetcher.h"

#include <QObject>
#include <QUrl>
#include <functional>

class SettingsStore;

/// One lookup: fetch the external address, take the local address, show both, detect a change
/// against the previous snapshot ("0" never counts), and store the new previous addresses.
/// The sources are asked in order until one answers; the status reports a failure only when all
/// failed. Until setSources, the product's page is the only source.
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

    /// Off: a lookup only looks; the addresses it finds are neither stored nor kept as the previous
    /// ones, and the change it reports is against those stored before. On by default.
    void setStoring(bool on) { m_storing = on; }
    bool storing() const { return m_storing; }

    /// Drops a pending lookup without reporting anything.
    void Stop();

    /// True from Refresh until the lookup has ended, well or not.
    bool busy() const { return m_asking >= 0; }

    /// Restores the previous snapshot from the store ("0" when nothing was recorded yet).
    void LoadPrevious();
    IpSnapshot previous() const { return m_previous; }

    static inline const QString StatusLooking = QStringLiteral("Looking up your IPs...");
    static inline const QString StatusFinished = QStringLiteral("Finished looking up IPs");
    static inline const QString StatusFailed = QStringLiteral("Error: Connection not available.");

signals:
    void statusChanged(const QString &text);
    /// The address labels are to show these texts.
    void addressesShown(const IpSnapshot &current);
    /// A lookup ended, well or not; an answered one has stored its addresses. Before the final status
    /// when a source answered, after it when every source failed.
    void finished(const LookupResult &result);

private:
    void DownloadComplete(const PageFetcher::Result &fetch);
    void askNext();

    SettingsStore &m_store;
    PageFetcher *m_fetcher;
    QUrl m_page;
    std::function<QString()> m_localIp;
    IpSnapshot m_previous{IpSnapshot::None, IpSnapshot::None};
    QList<IpSource> m_sources;
    QList<IpSource> m_chain; // the pending lookup's sources, kept apart from later changes
    qsizetype m_asking = -1; // index into m_chain; -1 while no lookup is pending
    bool m_anyFailed = false;
    bool m_storing = true;
};

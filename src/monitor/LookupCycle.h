#pragma once

#include "IpSnapshot.h"

#include <QObject>
#include <QUrl>
#include <functional>

class PageFetcher;
class SettingsStore;

/// One lookup: fetch the external-IP page, take the local address, show both, detect a change
/// against the previous snapshot ("0" never counts), and store the new previous addresses.
class LookupCycle : public QObject {
    Q_OBJECT
public:
    LookupCycle(SettingsStore &store, PageFetcher *fetcher, QUrl page, std::function<QString()> localIp,
                QObject *parent = nullptr);

    /// The Refresh operation: status text, then a fetch that replaces any pending one.
    void Refresh();

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
    /// A lookup ended well; the snapshot is stored. The window rewrites captions, updates the
    /// overlay and starts the notification here when asked to.
    void lookupCompleted(const IpSnapshot &current, bool changed);

private:
    void DownloadComplete();

    SettingsStore &m_store;
    PageFetcher *m_fetcher;
    QUrl m_page;
    std::function<QString()> m_localIp;
    IpSnapshot m_previous{IpSnapshot::None, IpSnapshot::None};
};

#pragma once

#include "IpSource.h"
#include "SourceAnswer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

class DnsQuery;
class PageFetcher;

/// The sources dialog's Test: asks every given source at once, each through a fetcher of its own
/// with a time limit, and reports what each answered and how long it took.
class SourceProbe : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        SourceAnswer::Result answer;
        qint64 elapsedMs = 0;
        /// Unless it answered with an address, why not, in a few words: "connection refused", "no
        /// answer within 10 s", "HTTP status 404", "not an address: " and the start of the answer,
        /// "redirected to another address: " and where to.
        QString reason;
    };

    explicit SourceProbe(QObject *parent = nullptr);

    /// Asks each source (the product's page with its URL filled in); a test still running is dropped.
    void start(const QList<IpSource> &sources);
    bool isRunning() const { return m_pending > 0; }
    /// Limit for each fetch, from the next start.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    static constexpr int DefaultTimeoutMs = 10000;

signals:
    /// The source at index of the started list has answered, or failed.
    void answered(int index, const SourceProbe::Outcome &outcome);
    /// Every source has answered or failed.
    void finished();

private:
    void stop();

    QList<PageFetcher *> m_fetchers;

    QList<DnsQuery *> m_queries;
    QElapsedTimer m_clock;
    int m_pending = 0;
    int m_timeoutMs = DefaultTimeoutMs;
};

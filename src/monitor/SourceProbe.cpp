#include "SourceProbe.h"

#include "DnsQuery.h"
#include "LookupLog.h"
#include "PageFetcher.h"

namespace {
QString reasonFor(const SourceAnswer::Result &answer, const PageFetcher::Result &fetch)
{
    constexpr qsizetype shown = 40;
    const QString body = fetch.BodyInnerHTML.trimmed();
    if (!answer.refusal.isEmpty())
        return answer.refusal + QStringLiteral(": ") + body;
    switch (answer.verdict) {
    case SourceAnswer::Verdict::Address:
        return {};
    case SourceAnswer::Verdict::Failed:
        if (fetch.failed)
            return fetch.cause;
        // The product's page, whole, but empty or an error text.
        return body.isEmpty() ? QStringLiteral("an empty page") : QStringLiteral("an error page");
    case SourceAnswer::Verdict::NotAnAddress: {
        QString text = QStringLiteral("not an address: ") + body.left(shown);
        if (body.size() > shown)
            text += QChar(0x2026);
        return text;
    }
    case SourceAnswer::Verdict::Elsewhere:
        return QStringLiteral("moved to ") + fetch.LocationURL.toDisplayString().left(shown * 2);
    }
    return {};
}
} // namespace

SourceProbe::SourceProbe(QObject *parent) : QObject(parent) {}

void SourceProbe::stop()
{
    for (PageFetcher *fetcher : std::as_const(m_fetchers)) {
        disconnect(fetcher, nullptr, this, nullptr);
        fetcher->deleteLater(); // deleted outside whatever handler of its own may be running
    }
    m_fetchers.clear();
    for (DnsQuery *query : std::as_const(m_queries)) {
        disconnect(query, nullptr, this, nullptr);
        query->stop();
        query->deleteLater();
    }
    m_queries.clear();
    m_pending = 0;
}

void SourceProbe::start(const QList<IpSource> &sources)
{
    stop();
    m_clock.start();
    m_pending = int(sources.size());
    for (int index = 0; index < sources.size(); ++index) {
        const IpSource source = sources.at(index);
        const auto report = [this, index, source](const SourceAnswer::Result &answer, const QString &reason) {
            const Outcome outcome{answer, m_clock.elapsed(), reason};
            if (!outcome.reason.isEmpty())
                qCWarning(lcLookup) << "test of" << source.url.toDisplayString()
                                    << "gave no address:" << outcome.reason;
            emit answered(index, outcome);
            if (--m_pending == 0)
                emit finished();
        };
        if (source.isDns()) {
            auto *query = new DnsQuery(this);
            m_queries.append(query);
            connect(query, &DnsQuery::finished, this, [source, report](const DnsQuery::Result &result) {
                const SourceAnswer::Result answer = SourceAnswer::judge(source, result);
                report(answer, SourceAnswer::whyNot(answer, result));
            });
            query->ask(source.url);
            continue;
        }
        auto *fetcher = new PageFetcher(this);
        fetcher->setTimeout(m_timeoutMs);
        m_fetchers.append(fetcher);
        connect(fetcher, &PageFetcher::DownloadComplete, this,
                [source, report](const PageFetcher::Result &fetch) {
                    const SourceAnswer::Result answer = SourceAnswer::judge(source, fetch);
                    report(answer, reasonFor(answer, fetch));
                });
        fetcher->Navigate(source.url, SourceAnswer::bodyFor(source));
    }
    if (m_pending == 0)
        emit finished();
}

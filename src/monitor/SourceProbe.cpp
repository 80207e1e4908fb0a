#include "SourceProbe.h"

#include "PageFetcher.h"

SourceProbe::SourceProbe(QObject *parent) : QObject(parent) {}

void SourceProbe::stop()
{
    for (PageFetcher *fetcher : std::as_const(m_fetchers)) {
        disconnect(fetcher, nullptr, this, nullptr);
        fetcher->deleteLater(); // deleted outside whatever handler of its own may be running
    }
    m_fetchers.clear();
    m_pending = 0;
}

void SourceProbe::start(const QList<IpSource> &sources)
{
    stop();
    m_clock.start();
    m_pending = int(sources.size());
    for (int index = 0; index < sources.size(); ++index) {
        const IpSource source = sources.at(index);
        auto *fetcher = new PageFetcher(this);
        fetcher->setTimeout(m_timeoutMs);
        m_fetchers.append(fetcher);
        connect(fetcher, &PageFetcher::DownloadComplete, this, [this, fetcher, index, source] {
            const Outcome outcome{SourceAnswer::judge(source, *fetcher), m_clock.elapsed()};
            emit answered(index, outcome);
            if (--m_pending == 0)
                emit finished();
        });
        fetcher->Navigate(source.url, SourceAnswer::bodyFor(source));
    }
    if (m_pending == 0)
        emit finished();
}

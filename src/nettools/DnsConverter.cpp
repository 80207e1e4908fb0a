#include "DnsConverter.h"

#include "clsIPResolve.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

#include <memory>

namespace {
QThreadPool *lookupThreads()
{
    // Never deleted: deleting a pool waits for its threads, and a lookup that the name server never
    // answers must not hold up the end of the program.
    static QThreadPool *const pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(4);
        return threads;
    }();
    return pool;
}
} // namespace

DnsConverter::DnsConverter(QObject *parent) : QObject(parent), m_resolver(&DnsConverter::resolveOffThread) {}

QFuture<QString> DnsConverter::resolveOffThread(Direction direction, const QString &text)
{
    auto promise = std::make_shared<QPromise<QString>>();
    QFuture<QString> future = promise->future();
    promise->start();
    lookupThreads()->start([promise, direction, text] {
        // Replaced before a thread was free: nobody waits for this one any more.
        if (!promise->isCanceled()) {
            clsIPResolve resolver;
            promise->addResult(direction == Direction::AddressToName ? resolver.AddressToName(text)
                                                                     : resolver.NameToAddress(text));
        }
        promise->finish();
    });
    return future;
}

void DnsConverter::dropPending()
{
    if (!m_pending)
        return;
    QFutureWatcher<QString> *watcher = m_pending;
    m_pending = nullptr;
    disconnect(watcher, nullptr, this, nullptr);
    watcher->future().cancel();
    watcher->deleteLater();
}

void DnsConverter::convert(Direction direction, const QString &text)
{
    dropPending();
    auto *watcher = new QFutureWatcher<QString>(this);
    m_pending = watcher;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, direction] {
        const QFuture<QString> future = watcher->future();
        const QString result =
            !future.isCanceled() && future.resultCount() > 0 ? future.resultAt(0) : QString();
        m_pending = nullptr;
        watcher->deleteLater();
        // Last: the receiver may start the next conversion from here.
        emit converted(direction, result);
    });
    watcher->setFuture(m_resolver(direction, text));
}

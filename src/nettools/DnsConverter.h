#pragma once

#include <QFuture>
#include <QObject>
#include <QString>
#include <functional>

template <typename T> class QFutureWatcher;

/// The DNS converter's lookups. They run off the user-interface thread, so that a slow or dead name
/// server stalls nothing else, and only the newest conversion answers: one asked for while another is
/// still on its way replaces it, and the earlier result is dropped.
class DnsConverter : public QObject {
    Q_OBJECT
public:
    enum class Direction {
        AddressToName, ///< a dotted IPv4 address to the name registered for it
        NameToAddress, ///< a host name to its first IPv4 address
    };
    Q_ENUM(Direction)

    /// Starts one lookup and returns at once; the future gets the result text, "" on failure.
    /// A future that is cancelled counts as a failure.
    using Resolver = std::function<QFuture<QString>(Direction direction, const QString &text)>;

    explicit DnsConverter(QObject *parent = nullptr);

    /// Tests put a resolver here that answers late or never.
    void setResolver(Resolver resolver) { m_resolver = std::move(resolver); }
    /// Starts a conversion of text, as typed; converted() follows unless another one starts first.
    void convert(Direction direction, const QString &text);
    bool isBusy() const { return m_pending != nullptr; }

    /// The platform resolver (clsIPResolve) on a worker thread of its own.
    static QFuture<QString> resolveOffThread(Direction direction, const QString &text);

signals:
    /// The newest conversion's result: the other box's new text, "" when the lookup failed.
    void converted(DnsConverter::Direction direction, const QString &result);

private:
    void dropPending();

    Resolver m_resolver;
    QFutureWatcher<QString> *m_pending = nullptr;
};

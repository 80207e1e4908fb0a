#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <atomic>

class QDnsLookup;
class QHostInfo;
class QTimer;

/// Asks one name server for the caller's address, one query at a time. Some services tell it over DNS,
/// which a captive portal or a meddling proxy cannot answer in their place as easily as a web page:
///     dns://resolver1.opendns.com/myip.opendns.com?type=A      (AAAA for the IPv6 address)
///     dns://ns1.google.com/o-o.myaddr.l.google.com?type=TXT
/// The server may be a host name, resolved first, or an address (IPv6 in brackets); it is always
/// asked on port 53, the only one Qt's DNS lookup knows. Such a service answers with the address the
/// query came from, so an A query goes to the server's IPv4 address and an AAAA query to its IPv6
/// address where it has one. Qt before 6.6 cannot reach a name server over IPv6 (nor any, while the
/// system's first name server is an IPv6 one): such a query fails with that cause rather than ask the
/// system's name server in its place.
/// The answer must hold exactly one address of the type asked: for A an IPv4 address, for AAAA an IPv6
/// address (not an IPv4 one in IPv6 form), for TXT the strings that are a bare address, others
/// skipped. Records repeating the same address count once; different ones fail the query.
class DnsQuery : public QObject {
    Q_OBJECT
public:
    enum class RecordType { A, AAAA, TXT };

    /// The parts of a dns:// address.
    struct Target {
        QString server; ///< host name or address, an IPv6 address without brackets
        QString name;   ///< the name asked, without a trailing dot
        RecordType type = RecordType::A;
    };
    /// What parse() made of a text: the parts, or why it is refused.
    struct Parsed {
        Target target;
        QString refusal; ///< empty when target holds the parts
        bool ok() const { return refusal.isEmpty(); }
    };
    /// How a query ended.
    struct Result {
        QString address; ///< the address as text, when answered
        QString failure; ///< why not, in a few words ("timed out", "no such name"); empty when answered
        qint64 elapsedMs = 0;
        bool answered() const { return failure.isEmpty(); }
    };

    explicit DnsQuery(QObject *parent = nullptr);
    ~DnsQuery() override;

    /// Reads dns://SERVER/NAME?type=A|AAAA|TXT (the type in any letter case). Refused with the reason:
    /// another scheme, no server, no name or a malformed one, a port, user information, a fragment,
    /// another parameter, or a missing or other type.
    static Parsed parse(const QString &text);
    static QString typeName(RecordType type);

    /// Starts a query of a dns:// address and returns at once; a query still pending is dropped. Ends
    /// with one finished(), also when the address is refused.
    void ask(const QUrl &url);
    /// Drops the pending query, if any, without finished().
    void stop();
    bool busy() const { return m_pending; }

    /// Limit for a whole query, the server's name resolved included, from the next ask.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    static constexpr int DefaultTimeoutMs = 5000;
    /// A query given up in this process (its time limit, stop, a new ask) may still run in Qt's resolver
    /// thread until the resolver's own time-outs, and Qt's exit would wait for it.
    static bool anyLeftRunning() { return s_leftRunning; }

signals:
    void finished(const DnsQuery::Result &result);

private:
    void serverResolved(const QHostInfo &info);
    void lookUp(const QHostAddress &server);
    void lookupFinished();
    /// Fails from the event loop, never from inside ask().
    void failSoon(const QString &cause);
    void fail(const QString &cause);
    void end(const QString &address, const QString &cause);
    void drop();

    QTimer *m_timer; // the time limit, or a failure already known waiting for the event loop
    QString m_timerCause;
    QPointer<QDnsLookup> m_lookup;
    int m_hostLookupId = -1;
    bool m_pending = false;
    Target m_target;
    QString m_description; // the query under way, for the log
    QElapsedTimer m_clock;
    int m_timeoutMs = DefaultTimeoutMs;
    static inline std::atomic<bool> s_leftRunning = false;
};

#include "DnsQuery.h"

#include "LookupLog.h"
#include "SourceAnswer.h"
#include "WholeFile.h"

#include <QDnsLookup>
#include <QHostInfo>
#include <QLibraryInfo>
#include <QStringList>
#include <QTimer>
#include <QUrlQuery>
#include <QVersionNumber>

namespace {
const QString TimedOut = QStringLiteral("timed out");

bool validName(const QString &name)
{
    const QByteArray ace = QUrl::toAce(name);
    if (ace.isEmpty() || ace.size() > 253)
        return false;
    for (const QByteArray &label : ace.split('.')) {
        if (label.isEmpty() || label.size() > 63)
            return false;
        for (const char c : label) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                 c == '-' || c == '_';
            if (!allowed)
                return false;
        }
    }
    return true;
}

/// The server's address to ask. These services tell the address the query came from, so an AAAA query
/// goes over IPv6 where the server has an IPv6 address, any other over IPv4 where it has an IPv4 one.
QHostAddress serverAddress(const QList<QHostAddress> &addresses, DnsQuery::RecordType type)
{
    const auto wanted =
        type == DnsQuery::RecordType::AAAA ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol;
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == wanted)
            return address;
    }
    return addresses.value(0);
}

/// Why Qt would not send the query to server itself; empty when it would.
/// Before 6.6, Qt on glibc sets only the address of the resolver's first name server: an IPv6 server
/// is dropped, and when the system's own first name server is an IPv6 one, Qt asks that one instead.
/// Either way the query silently goes to the system's name server, and a service that reports the
/// asker's address then reports the resolver's.
QString unreachable(const QHostAddress &server)
{
    if (QLibraryInfo::version() >= QVersionNumber(6, 6))
        return {};
    if (server.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("this Qt cannot ask a name server over IPv6");
#if defined(__GLIBC__)
    // Read as the resolver reads it (res_ninit itself keeps part of what it reads for good): the first
    // "nameserver" line; none, or no file, means the resolver's own default, 127.0.0.1.
    QString why;
    const std::optional<QByteArray> conf =
        WholeFile::read(QStringLiteral("/etc/resolv.conf"), 64 * 1024, why);
    for (const QByteArray &line : conf.value_or(QByteArray()).split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2 || words.first() != "nameserver")
            continue;
        if (QHostAddress(QString::fromLatin1(words.at(1))).protocol() == QAbstractSocket::IPv6Protocol)
            return QStringLiteral("this Qt cannot ask it while the system's first name server is IPv6");
        break;
    }
#endif
    return {};
}

QString lookupFailure(const QDnsLookup &lookup)
{
    switch (lookup.error()) {
    case QDnsLookup::NotFoundError:
        return QStringLiteral("no such name");
    case QDnsLookup::ServerFailureError:
        return QStringLiteral("server failure");
    case QDnsLookup::ServerRefusedError:
        return QStringLiteral("the server refused");
    case QDnsLookup::InvalidRequestError:
        return QStringLiteral("the server could not read the query");
    case QDnsLookup::InvalidReplyError:
        // Qt 6.4 reports an empty answer the same way as no answer at all (nothing listening).
        return QStringLiteral("no record, or no valid reply");
    default:
        return QStringLiteral("lookup failed: ") + lookup.errorString();
    }
}

struct Verdict {
    QString address;
    QString failure;
};

/// One address of the type asked, or why the answer holds none.
Verdict judge(const QDnsLookup &lookup, DnsQuery::RecordType type)
{
    QStringList found;
    bool otherFamily = false;
    if (type == DnsQuery::RecordType::TXT) {
        bool anyText = false;
        for (const QDnsTextRecord &record : lookup.textRecords()) {
            for (const QByteArray &value : record.values()) {
                anyText = true;
                // A service may add text of its own beside the address, such as the subnet it saw.
                const QString text = QString::fromLatin1(value);
                if (SourceAnswer::isAddress(text) && !found.contains(text))
                    found.append(text);
            }
        }
        if (anyText && found.isEmpty())
            return {{}, QStringLiteral("TXT is not an address")};
    } else {
        const auto wanted =
            type == DnsQuery::RecordType::A ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol;
        for (const QDnsHostAddressRecord &record : lookup.hostAddressRecords()) {
            const QHostAddress value = record.value();
            bool isIPv4 = false;
            value.toIPv4Address(&isIPv4); // also true for an IPv4 address in IPv6 form
            const bool right = value.protocol() == wanted && isIPv4 == (type == DnsQuery::RecordType::A);
            otherFamily = otherFamily || !right;
            const QString text = value.toString();
            if (right && !found.contains(text))
                found.append(text);
        }
    }
    if (found.size() > 1) {
        found.sort();
        return {{}, QStringLiteral("several addresses in the answer: ") + found.join(QLatin1String(", "))};
    }
    if (found.isEmpty())
        return {{},
                otherFamily ? QStringLiteral("wrong address family in the answer")
                            : QStringLiteral("no address in the answer")};
    return {found.constFirst(), {}};
}
} // namespace

DnsQuery::DnsQuery(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    // A coarse timer may end the query up to 5 % before its limit.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { fail(m_timerCause); });
}

DnsQuery::~DnsQuery()
{
    drop();
}

QString DnsQuery::typeName(RecordType type)
{
    switch (type) {
    case RecordType::A:
        return QStringLiteral("A");
    case RecordType::AAAA:
        return QStringLiteral("AAAA");
    case RecordType::TXT:
        break;
    }
    return QStringLiteral("TXT");
}

DnsQuery::Parsed DnsQuery::parse(const QString &text)
{
    const auto refuse = [](const QString &why) { return Parsed{{}, why}; };
    if (text.isEmpty())
        return refuse(QStringLiteral("empty"));
    if (text.size() > 1024)
        return refuse(QStringLiteral("too long"));
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(QStringLiteral("not a valid address: ") +
                      url.errorString().section(QLatin1Char(';'), 0, 0));
    if (url.scheme() != QLatin1String("dns"))
        return refuse(QStringLiteral("not a dns:// address"));
    if (!url.userInfo().isEmpty())
        return refuse(QStringLiteral("no user name or password is allowed"));
    if (url.port() != -1)
        return refuse(QStringLiteral("no port is allowed: the server is asked on port 53"));
    if (url.hasFragment())
        return refuse(QStringLiteral("no fragment (#) is allowed"));
    if (url.host().isEmpty())
        return refuse(QStringLiteral("no server"));

    QString name = url.path(QUrl::FullyDecoded).mid(1);
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty())
        return refuse(QStringLiteral("no name to ask"));
    if (!validName(name))
        return refuse(QStringLiteral("not a valid name: ") + name);

    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    if (items.isEmpty())
        return refuse(QStringLiteral("no record type: add ?type=A, AAAA or TXT"));
    if (items.size() > 1 || items.constFirst().first != QLatin1String("type"))
        return refuse(QStringLiteral("nothing but ?type= is allowed after the name"));
    const QString type = items.constFirst().second.toUpper();
    Target target{url.host(), name, RecordType::A};
    if (type == QLatin1String("AAAA"))
        target.type = RecordType::AAAA;
    else if (type == QLatin1String("TXT"))
        target.type = RecordType::TXT;
    else if (type != QLatin1String("A"))
        return refuse(QStringLiteral("the record type must be A, AAAA or TXT"));
    return {target, {}};
}

void DnsQuery::ask(const QUrl &url)
{
    drop();
    m_pending = true;
    m_clock.start();
    const Parsed parsed = parse(url.toString(QUrl::FullyEncoded));
    m_target = parsed.target;
    if (!parsed.ok()) {
        m_description = url.toDisplayString();
        failSoon(parsed.refusal);
        return;
    }
    m_description =
        QStringLiteral("%1 (%2) at %3").arg(m_target.name, typeName(m_target.type), m_target.server);
    m_timerCause = TimedOut;
    m_timer->start(m_timeoutMs);
    const QHostAddress address(m_target.server);
    if (address.isNull())
        m_hostLookupId = QHostInfo::lookupHost(m_target.server, this, &DnsQuery::serverResolved);
    else
        lookUp(address);
}

void DnsQuery::stop()
{
    drop();
}

void DnsQuery::serverResolved(const QHostInfo &info)
{
    if (!m_pending || info.lookupId() != m_hostLookupId)
        return;
    m_hostLookupId = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(info.error() == QHostInfo::HostNotFound
                 ? QStringLiteral("server name not found")
                 : QStringLiteral("server name not resolved: ") + info.errorString());
        return;
    }
    lookUp(serverAddress(info.addresses(), m_target.type));
}

void DnsQuery::lookUp(const QHostAddress &server)
{
    if (server.toString() != m_target.server)
        m_description += QStringLiteral(" (%1)").arg(server.toString());
    const QString why = unreachable(server);
    if (!why.isEmpty()) {
        failSoon(why);
        return;
    }
    const QDnsLookup::Type type = m_target.type == RecordType::A      ? QDnsLookup::A
                                  : m_target.type == RecordType::AAAA ? QDnsLookup::AAAA
                                                                      : QDnsLookup::TXT;
    m_lookup = new QDnsLookup(type, m_target.name, server, this);
    connect(m_lookup, &QDnsLookup::finished, this, &DnsQuery::lookupFinished);
    m_lookup->lookup();
}

void DnsQuery::lookupFinished()
{
    if (!m_pending || sender() != m_lookup)
        return;
    if (m_lookup->error() != QDnsLookup::NoError) {
        fail(lookupFailure(*m_lookup));
        return;
    }
    const Verdict verdict = judge(*m_lookup, m_target.type);
    if (!verdict.failure.isEmpty())
        fail(verdict.failure);
    else
        end(verdict.address, {});
}

void DnsQuery::failSoon(const QString &cause)
{
    // finished() never comes from inside ask(): the caller may not be ready for it yet.
    m_timerCause = cause;
    m_timer->start(0);
}

void DnsQuery::fail(const QString &cause)
{
    qCWarning(lcLookup).noquote() << "DNS query of" << m_description << "failed:" << cause;
    end({}, cause);
}

void DnsQuery::end(const QString &address, const QString &cause)
{
    const Result result{address, cause, m_clock.elapsed()};
    drop();
    emit finished(result);
}

void DnsQuery::drop()
{
    m_pending = false;
    m_timer->stop();
    // A name lookup under way is left to finish and ignored (serverResolved knows it by its id): Qt 6.4's
    // abortHostLookup never frees the receiver it was given.
    if (m_hostLookupId != -1 || (m_lookup && !m_lookup->isFinished()))
        s_leftRunning = true;
    m_hostLookupId = -1;
    if (m_lookup) {
        // Qt's lookup runs on in its thread until the resolver gives up; its result goes nowhere.
        m_lookup->disconnect(this);
        m_lookup->abort();
        m_lookup->deleteLater();
        m_lookup = nullptr;
    }
}

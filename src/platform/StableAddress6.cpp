#include "StableAddress6.h"

#ifdef Q_OS_LINUX
#include "PlatformLog.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int DumpTimeoutMs = 2000;
// A desktop's tables hold dozens of routes and addresses; a full Internet routing table is not read.
constexpr int MaxMessages = 65536;
// The kernel fills one read with at most 32 KiB of a dump.
constexpr size_t ReadSize = 64 * 1024;
constexpr int SocketBuffer = 256 * 1024;

/// The value of a route attribute, when it is large enough to hold one.
template <typename T> std::optional<T> valueOf(const rtattr &attribute)
{
    if (RTA_PAYLOAD(&attribute) < sizeof(T))
        return std::nullopt;
    T value;
    std::memcpy(&value, RTA_DATA(&attribute), sizeof value);
    return value;
}

/// The fixed part of a message of type `Body`, and each of the attributes after it, every length checked
/// against the message's (which NLMSG_OK has checked against what was read). False when too short.
template <typename Body>
bool readMessage(const nlmsghdr &header, Body &body, const std::function<void(const rtattr &)> &eachAttribute)
{
    if (header.nlmsg_len < NLMSG_SPACE(sizeof(Body)))
        return false;
    std::memcpy(&body, NLMSG_DATA(&header), sizeof body);
    int length = int(header.nlmsg_len - NLMSG_SPACE(sizeof(Body)));
    const auto *first = reinterpret_cast<const char *>(NLMSG_DATA(&header)) + NLMSG_ALIGN(sizeof(Body));
    for (auto *attribute = reinterpret_cast<const rtattr *>(first); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length))
        eachAttribute(*attribute);
    return true;
}

/// A NETLINK_ROUTE socket for one request-and-dump at a time.
class RouteSocket {
public:
    RouteSocket() : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~RouteSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RouteSocket(const RouteSocket &) = delete;
    RouteSocket &operator=(const RouteSocket &) = delete;

    bool open()
    {
        if (m_fd < 0) {
            qCWarning(lcPlatform) << "Cannot open a route socket to read the IPv6 addresses:"
                                  << qt_error_string(errno);
            return false;
        }
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &SocketBuffer, sizeof SocketBuffer);
        // Lets the kernel send only what the request's header asks for (Linux 4.20 on); older kernels
        // send all, and the caller looks at every message anyway.
        const int on = 1;
        ::setsockopt(m_fd, SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on);
        return true;
    }

    /// Asks for a dump of `type` with `body` as the request's header, and hands each message of the
    /// answer to `each`. False, the cause logged, when the dump failed, was cut or took too long.
    template <typename Body>
    bool dump(quint16 type, const Body &body, const char *what,
              const std::function<void(const nlmsghdr &)> &each)
    {
        struct {
            nlmsghdr header;
            Body body;
        } request{};
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
        request.header.nlmsg_type = type;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.header.nlmsg_seq = ++m_sequence;
        request.body = body;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(m_fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<const sockaddr *>(&kernel),
                     sizeof kernel) < 0) {
            qCWarning(lcPlatform) << "Cannot ask the kernel for" << what << qt_error_string(errno);
            return false;
        }
        return readAnswer(what, each);
    }

private:
    bool readAnswer(const char *what, const std::function<void(const nlmsghdr &)> &each)
    {
        std::vector<nlmsghdr> buffer(ReadSize / sizeof(nlmsghdr)); // aligned for the headers read
        const QDeadlineTimer deadline(DumpTimeoutMs);
        int messages = 0;
        for (;;) {
            pollfd ready{m_fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, int(deadline.remainingTime()));
            if (polled < 0 && errno == EINTR)
                continue;
            if (polled <= 0 || deadline.hasExpired()) {
                qCWarning(lcPlatform)
                    << "The kernel's list of" << what
                    << "did not come:" << (polled < 0 ? qt_error_string(errno) : QStringLiteral("timed out"));
                return false;
            }
            sockaddr_nl sender{};
            socklen_t senderSize = sizeof sender;
            const ssize_t size = ::recvfrom(m_fd, buffer.data(), ReadSize, MSG_DONTWAIT | MSG_TRUNC,
                                            reinterpret_cast<sockaddr *>(&sender), &senderSize);
            if (size < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            if (size < 0 || size_t(size) > ReadSize) {
                qCWarning(lcPlatform) << "Cannot read the kernel's list of" << what
                                      << (size < 0 ? qt_error_string(errno) : QStringLiteral("message cut"));
                return false;
            }
            if (sender.nl_pid != 0)
                continue; // another process's, not the kernel's
            int length = int(size);
            for (const nlmsghdr *header = buffer.data(); NLMSG_OK(header, length);
                 header = NLMSG_NEXT(header, length)) {
                if (++messages > MaxMessages) {
                    qCWarning(lcPlatform)
                        << "The kernel's list of" << what << "is longer than" << MaxMessages;
                    return false;
                }
                if (header->nlmsg_seq != m_sequence)
                    continue;
                if (header->nlmsg_flags & NLM_F_DUMP_INTR) {
                    qCWarning(lcPlatform) << "The kernel's list of" << what << "changed while it was read";
                    return false;
                }
                if (header->nlmsg_type == NLMSG_DONE)
                    return true;
                if (header->nlmsg_type == NLMSG_ERROR) {
                    nlmsgerr error{};
                    if (header->nlmsg_len >= NLMSG_LENGTH(sizeof error))
                        std::memcpy(&error, NLMSG_DATA(header), sizeof error);
                    qCWarning(lcPlatform)
                        << "The kernel refused the list of" << what << qt_error_string(-error.error);
                    return false;
                }
                each(*header);
            }
        }
    }

    int m_fd;
    quint32 m_sequence = 0;
};

/// The interface index of the main table's IPv6 default route with the lowest metric; 0 when there is
/// none, nullopt when the table cannot be read. Other tables are left out as the IPv4 side leaves them:
/// a full-tunnel VPN's default reached by policy rules is not the machine's own network.
std::optional<int> defaultRouteInterface(RouteSocket &socket)
{
    rtmsg filter{};
    filter.rtm_family = AF_INET6;
    filter.rtm_table = RT_TABLE_MAIN;
    filter.rtm_type = RTN_UNICAST;
    int best = 0;
    quint32 bestMetric = 0;
    const bool read = socket.dump(RTM_GETROUTE, filter, "IPv6 routes", [&](const nlmsghdr &header) {
        rtmsg route{};
        quint32 table = 0, metric = 0;
        int interfaceIndex = 0;
        const bool whole =
            header.nlmsg_type == RTM_NEWROUTE && readMessage(header, route, [&](const rtattr &a) {
                if (a.rta_type == RTA_TABLE)
                    table = valueOf<quint32>(a).value_or(0);
                else if (a.rta_type == RTA_OIF)
                    interfaceIndex = valueOf<int>(a).value_or(0);
                else if (a.rta_type == RTA_PRIORITY)
                    metric = valueOf<quint32>(a).value_or(0);
            });
        if (table == 0)
            table = route.rtm_table;
        // A route from a given source only, or one with several next hops, is no plain default.
        if (whole && route.rtm_family == AF_INET6 && route.rtm_dst_len == 0 && route.rtm_src_len == 0 &&
            route.rtm_type == RTN_UNICAST && table == RT_TABLE_MAIN && interfaceIndex > 0 &&
            (best == 0 || metric < bestMetric)) {
            best = interfaceIndex;
            bestMetric = metric;
        }
    });
    return read ? std::optional<int>(best) : std::nullopt;
}

/// The IPv6 addresses of one interface with their flags; nullopt when they cannot be read.
std::optional<QList<StableAddress6::Entry>> addressesOf(RouteSocket &socket, int interfaceIndex)
{
    ifaddrmsg filter{};
    filter.ifa_family = AF_INET6;
    filter.ifa_index = quint32(interfaceIndex);
    QList<StableAddress6::Entry> entries;
    const bool read = socket.dump(RTM_GETADDR, filter, "IPv6 addresses", [&](const nlmsghdr &header) {
        ifaddrmsg message{};
        StableAddress6::Entry entry;
        std::optional<in6_addr> address, local;
        std::optional<quint32> flags;
        const bool whole =
            header.nlmsg_type == RTM_NEWADDR && readMessage(header, message, [&](const rtattr &a) {
                if (a.rta_type == IFA_ADDRESS)
                    address = valueOf<in6_addr>(a);
                else if (a.rta_type == IFA_LOCAL)
                    local = valueOf<in6_addr>(a);
                else if (a.rta_type == IFA_FLAGS)
                    flags = valueOf<quint32>(a); // all of them; the header has room for the first eight
                else if (a.rta_type == IFA_CACHEINFO)
                    entry.preferredLifetime =
                        valueOf<ifa_cacheinfo>(a).value_or(ifa_cacheinfo{}).ifa_prefered;
            });
        // With a peer, IFA_ADDRESS is the peer's and IFA_LOCAL this end's.
        const std::optional<in6_addr> own = local ? local : address;
        if (!whole || message.ifa_family != AF_INET6 || !own)
            return;
        entry.interfaceIndex = int(message.ifa_index);
        entry.address = QHostAddress(own->s6_addr);
        entry.flags = flags.value_or(message.ifa_flags);
        entries.append(entry);
    });
    return read ? std::optional(entries) : std::nullopt;
}
} // namespace

QString StableAddress6::pick(const QList<Entry> &entries, int interfaceIndex)
{
    constexpr quint32 Unstable = IFA_F_TEMPORARY | IFA_F_DEPRECATED | IFA_F_TENTATIVE | IFA_F_DADFAILED;
    std::optional<Q_IPV6ADDR> best;
    for (const Entry &entry : entries) {
        if (entry.interfaceIndex != interfaceIndex || (entry.flags & Unstable) ||
            entry.preferredLifetime == 0 || entry.address.protocol() != QAbstractSocket::IPv6Protocol)
            continue;
        const Q_IPV6ADDR bytes = entry.address.toIPv6Address();
        const bool global = (bytes[0] & 0xe0) == 0x20;
        const bool uniqueLocal = (bytes[0] & 0xfe) == 0xfc;
        // Global addresses sort before unique local ones: the lowest is global whenever one is there.
        if ((global || uniqueLocal) && (!best || std::memcmp(bytes.c, best->c, sizeof bytes.c) < 0))
            best = bytes;
    }
    return best ? QHostAddress(*best).toString() : QString();
}

QString StableAddress6::find()
{
    RouteSocket socket;
    if (!socket.open())
        return {};
    const std::optional<int> interfaceIndex = defaultRouteInterface(socket);
    if (!interfaceIndex || *interfaceIndex == 0) {
        if (interfaceIndex)
            qCDebug(lcPlatform) << "No IPv6 default route in the main table";
        return {};
    }
    const std::optional<QList<Entry>> entries = addressesOf(socket, *interfaceIndex);
    if (!entries)
        return {};
    const QString address = pick(*entries, *interfaceIndex);
    if (address.isEmpty())
        qCDebug(lcPlatform) << "No stable IPv6 address on interface" << *interfaceIndex
                            << "of the IPv6 default route, among" << entries->size();
    return address;
}
#else
QString StableAddress6::find()
{
    // Only Linux's kernel flags tell a stable address from a temporary one here.
    return {};
}
#endif

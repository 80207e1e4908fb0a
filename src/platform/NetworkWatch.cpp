#include "NetworkWatch.h"

#include "PlatformLog.h"

#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QTimer>

#include <utility>

#ifdef NETQUILL_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusError>
#endif

#ifdef Q_OS_LINUX
#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#else
#include <QNetworkInformation>
#endif

NetworkWatch::NetworkWatch(QObject *parent) : QObject(parent), m_quiet(new QTimer(this))
{
    m_quiet->setSingleShot(true);
    m_quiet->setInterval(DefaultQuietMs);
    connect(m_quiet, &QTimer::timeout, this, &NetworkWatch::QuietAgain);
}

NetworkWatch::~NetworkWatch()
{
#ifdef Q_OS_LINUX
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void NetworkWatch::setQuietInterval(int milliseconds)
{
    m_quiet->setInterval(milliseconds);
}

void NetworkWatch::noteEvent()
{
    noteRouteEvent(true);
}

void NetworkWatch::noteRouteEvent(bool mustTell)
{
    m_mustTell = m_mustTell || mustTell;
    m_quiet->start();
}

QString NetworkWatch::interfacesNow()
{
    QStringList lines;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        QString line = interface.name() + QLatin1Char(' ') +
                       QString::number(
                           int(interface.flags() & (QNetworkInterface::IsUp | QNetworkInterface::IsRunning)));
        for (const QNetworkAddressEntry &entry : interface.addressEntries())
            line += QLatin1Char(' ') + entry.ip().toString() + QLatin1Char('/') +
                    QString::number(entry.prefixLength());
        lines.append(line);
    }
    lines.sort();
    return lines.join(QLatin1Char('\n'));
}

void NetworkWatch::QuietAgain()
{
    const QString interfaces = interfacesNow();
    const bool tell = m_mustTell || interfaces != m_interfaces;
    m_mustTell = false;
    m_interfaces = interfaces;
    if (tell)
        emit changed();
    else
        qCDebug(lcPlatform) << "Network messages, but no interface, address or route changed";
}

bool NetworkWatch::start()
{
    if (m_watching)
        return true;
    m_interfaces = interfacesNow();
    m_watching = startRouteSocket();
    watchSleep();
    return m_watching;
}

#ifdef Q_OS_LINUX
bool NetworkWatch::startRouteSocket()
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        qCWarning(lcPlatform) << "Cannot open a route socket to watch the network:" << qt_error_string(errno);
        return false;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups =
        RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
        qCWarning(lcPlatform) << "Cannot listen to the network's changes:" << qt_error_string(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NetworkWatch::readRouteSocket);
    return true;
}

void NetworkWatch::readRouteSocket()
{
    // What changed is not read: any message means the addresses are to be looked up again.
    alignas(nlmsghdr) char buffer[16384];
    int messages = 0;
    bool mustTell = false;
    for (;;) {
        const ssize_t size = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (size > 0) {
            int length = int(size);
            for (auto *header = reinterpret_cast<const nlmsghdr *>(buffer); NLMSG_OK(header, length);
                 header = NLMSG_NEXT(header, length)) {
                ++messages;
                // Routes are not among the interfaces compared after the burst.
                mustTell =
                    mustTell || header->nlmsg_type == RTM_NEWROUTE || header->nlmsg_type == RTM_DELROUTE;
            }
            continue;
        }
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0 && errno == ENOBUFS) {
            // The kernel dropped messages it could not queue: something did change.
            qCDebug(lcPlatform) << "The route socket overflowed; counted as a change";
            ++messages;
            mustTell = true;
            continue;
        }
        if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Left unread, the socket would wake the loop again at once, over and over.
            qCWarning(lcPlatform) << "Cannot read the route socket; no longer watching the network:"
                                  << qt_error_string(errno);
            m_notifier->setEnabled(false);
            m_watching = false;
        }
        break;
    }
    if (messages > 0) {
        qCDebug(lcPlatform) << messages << "network change messages";
        noteRouteEvent(mustTell);
    }
}
#else
bool NetworkWatch::startRouteSocket()
{
    if (!QNetworkInformation::load(QNetworkInformation::Feature::Reachability)) {
        qCWarning(lcPlatform) << "No network information backend on this system; the network is not watched";
        return false;
    }
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            &NetworkWatch::noteEvent);
    return true;
}

void NetworkWatch::readRouteSocket() {}
#endif

void NetworkWatch::watchSleep()
{
#ifdef NETQUILL_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        // Containers and minimal systems have none; said once, as it is no fault.
        static bool said = false;
        if (!std::exchange(said, true))
            qCDebug(lcPlatform) << "No system bus; waking from suspend is not noticed:"
                                << bus.lastError().message();
        return;
    }
    if (!bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                     QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                     this, SLOT(PrepareForSleep(bool))))
        qCDebug(lcPlatform) << "Waking from suspend is not noticed:" << bus.lastError().message();
#else
    qCDebug(lcPlatform) << "Waking from suspend is not noticed on this system";
#endif
}

void NetworkWatch::PrepareForSleep(bool sleeping)
{
    // Going to sleep changes nothing yet; waking may find another network, or none so far.
    if (!sleeping)
        noteEvent();
}

#include "DesktopNotifier.h"

#include "MailLog.h"

#include <netquill/BuildIdentity.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

bool DesktopNotifier::available()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(Service).value();
}

quint64 DesktopNotifier::send(const Notice &notice)
{
    return show(notice.title(), notice.text());
}

quint64 DesktopNotifier::show(const QString &title, const QString &text)
{
    const quint64 job = nextJob();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return refuse(job, QStringLiteral("no session bus: ") + bus.lastError().message());
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    // The desktop entry's id names the program and its icon (installed under the same id) to the service.
    const QString appId = QString::fromUtf8(BuildIdentity::AppId);
    const QVariantMap hints{{QStringLiteral("desktop-entry"), appId}};
    // Bodies may hold markup for some services: the addresses and names are escaped plain text.
    call << QString::fromUtf8(BuildIdentity::ProductName) << uint(0) << appId << title << text.toHtmlEscaped()
         << QStringList() << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, TimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, job](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<uint> reply = *done;
        ChannelResult result{job, !reply.isError(), {}};
        if (reply.isError()) {
            result.cause = reply.error().message();
            qCWarning(lcMail).noquote() << "Desktop notification not shown:" << result.cause;
        }
        emit finished(result);
    });
    return job;
}

#include "modTaskbar.h"

#include "UiLog.h"
#ifdef NETQUILL_HAVE_DESKTOP_NOTIFIER
#include "DesktopNotifier.h"
#endif
#include "modIdentity.h"

#include <QTimer>

TrayIcon::TrayIcon(QObject *parent) : QObject(parent), m_watch(new QTimer(this))
{
    m_watch->setInterval(3000);
    connect(m_watch, &QTimer::timeout, this, &TrayIcon::follow);
#ifdef NETQUILL_HAVE_DESKTOP_NOTIFIER
    m_notifier = new DesktopNotifier(this);
    connect(m_notifier, &NoticeChannel::finished, this, [this](const ChannelResult &result) {
        const Message message = m_sending.take(result.job);
        if (result.delivered)
            emit notified(message.title, message.text);
        else if (message.fallBack)
            ShowMessage(message.title, message.text);
    });
#endif
}

void TrayIcon::setTrayProbe(std::function<bool()> available, int intervalMs)
{
    m_available = std::move(available);
    m_watch->setInterval(intervalMs);
}

void TrayIcon::AddTrayIcon(const QIcon &icon, const QString &tip)
{
    if (m_added)
        return;
    // The caller's tip is a fixed internal text; the product name tells the user more.
    Q_UNUSED(tip);
    m_added = true;
    m_image = icon;
    follow();
    m_watch->start();
}

void TrayIcon::follow()
{
    const bool available = m_available();
    if (!available && !m_toldNoTray) {
        m_toldNoTray = true;
        qCInfo(lcUi) << "No system tray: minimizing leaves the window on the taskbar until a tray starts";
    }
    if (available && !m_icon) {
        m_icon = new QSystemTrayIcon(m_image, this);
        m_icon->setToolTip(toolTip());
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (opensMenu(reason))
                emit menuRequested();
        });
        m_icon->show();
        emit shownChanged(true);
    } else if (!available && m_icon) {
        delete m_icon;
        m_icon = nullptr;
        emit shownChanged(false);
    }
}

void TrayIcon::setToolTip(const QString &tip)
{
    m_tip = tip;
    if (m_icon)
        m_icon->setToolTip(toolTip());
}

QString TrayIcon::toolTip() const
{
    return m_tip.isEmpty() ? modIdentity::Identity().strProgramName : m_tip;
}

bool TrayIcon::ShowMessage(const QString &title, const QString &text)
{
    if (!m_icon)
        return false;
    m_icon->showMessage(title, text, m_image);
    emit messageShown(title, text);
    return true;
}

void TrayIcon::Notify(const QString &title, const QString &text)
{
#ifdef NETQUILL_HAVE_DESKTOP_NOTIFIER
    m_sending.insert(m_notifier->show(title, text), {title, text, true});
#else
    ShowMessage(title, text);
#endif
}

void TrayIcon::Hint(const QString &title, const QString &text)
{
    if (ShowMessage(title, text))
        return;
#ifdef NETQUILL_HAVE_DESKTOP_NOTIFIER
    m_sending.insert(m_notifier->show(title, text), {title, text, false});
#endif
}

void TrayIcon::RemoveTrayIcon()
{
    m_added = false;
    m_watch->stop();
    if (m_icon) {
        m_icon->hide();
        delete m_icon;
        m_icon = nullptr;
    }
}

bool TrayIcon::opensMenu(QSystemTrayIcon::ActivationReason reason)
{
    return reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context;
}

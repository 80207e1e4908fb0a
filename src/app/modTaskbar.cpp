#include "modTaskbar.h"

#include "modIdentity.h"

#include <QTimer>

TrayIcon::TrayIcon(QObject *parent) : QObject(parent), m_watch(new QTimer(this))
{
    m_watch->setInterval(3000);
    connect(m_watch, &QTimer::timeout, this, &TrayIcon::follow);
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
    if (available && !m_icon) {
        m_icon = new QSystemTrayIcon(m_image, this);
        m_icon->setToolTip(modIdentity::Identity().strProgramName);
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

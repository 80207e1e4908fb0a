#include "modTaskbar.h"

#include "modIdentity.h"

void TrayIcon::AddTrayIcon(const QIcon &icon, const QString &tip)
{
    if (m_added)
        return;
    m_added = true;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_icon = new QSystemTrayIcon(icon, this);
    // The caller's tip is a fixed internal text; the product name tells the user more.
    Q_UNUSED(tip);
    m_icon->setToolTip(modIdentity::Identity().strProgramName);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (opensMenu(reason))
            emit menuRequested();
    });
    m_icon->show();
}

void TrayIcon::RemoveTrayIcon()
{
    m_added = false;
    if (m_icon) {
        m_icon->hide();
        delete m_icon;
        m_icon = nullptr;
    }
}

bool TrayIcon::isShown() const { return m_icon && m_icon->isVisible(); }

bool TrayIcon::opensMenu(QSystemTrayIcon::ActivationReason reason)
{
    return reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context;
}

#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

/// The main window's icon in the notification area. Without a system tray the program simply
/// runs without it.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void AddTrayIcon(const QIcon &icon, const QString &tip);
    void RemoveTrayIcon();

    /// True from AddTrayIcon to RemoveTrayIcon, whether or not a tray could show the icon.
    bool isAdded() const { return m_added; }
    /// True while an icon is really shown in a system tray.
    bool isShown() const;

    /// Left click and right click open the tray menu; double and middle clicks do nothing.
    static bool opensMenu(QSystemTrayIcon::ActivationReason reason);

signals:
    void menuRequested();

private:
    QSystemTrayIcon *m_icon = nullptr;
    bool m_added = false;
};

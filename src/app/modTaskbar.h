#pragma once

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

class DesktopNotifier;
class QTimer;

/// The main window's icon in the notification area. Without a system tray the program runs without
/// it; a tray that turns up later (a panel started after the program, at log-on) gets the icon then.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);

    void AddTrayIcon(const QIcon &icon, const QString &tip);
    void RemoveTrayIcon();

    /// True from AddTrayIcon to RemoveTrayIcon, whether or not a tray could show the icon.
    bool isAdded() const { return m_added; }
    /// True while an icon is really shown in a system tray.
    bool isShown() const { return m_icon != nullptr; }
    QIcon icon() const { return m_image; }

    /// The icon's tool tip, kept for an icon that comes later; empty means the product name.
    void setToolTip(const QString &tip);
    QString toolTip() const;
    /// Shows a message from the icon (a desktop notification); false when no icon is shown.
    bool ShowMessage(const QString &title, const QString &text);
    /// A change's notice: through the desktop's notification service, which desktops without a tray
    /// have too; from the icon only where no service takes it.
    void Notify(const QString &title, const QString &text);
    /// A hint that is no notice: from the icon, or through the notification service while no icon is
    /// shown, so that a desktop without a tray sees it too.
    void Hint(const QString &title, const QString &text);

    /// Left click and right click open the tray menu; double and middle clicks do nothing.
    static bool opensMenu(QSystemTrayIcon::ActivationReason reason);

    /// How a tray is found and how often it is looked for; tests replace both.
    void setTrayProbe(std::function<bool()> available, int intervalMs);

signals:
    void menuRequested();
    /// The icon came into a tray, or left it because the tray went away.
    void shownChanged(bool shown);
    /// A message went to the shown icon.
    void messageShown(const QString &title, const QString &text);
    /// The notification service took a message.
    void notified(const QString &title, const QString &text);

private:
    void follow();

    QSystemTrayIcon *m_icon = nullptr;
    QTimer *m_watch;
    QIcon m_image;
    QString m_tip;
    std::function<bool()> m_available = &QSystemTrayIcon::isSystemTrayAvailable;
    bool m_added = false;
    bool m_toldNoTray = false; // said once in the log
    DesktopNotifier *m_notifier = nullptr;
    struct Message {
        QString title, text;
        bool fallBack = false; // to the icon, when the service does not take it
    };
    QHash<quint64, Message> m_sending; // by the notifier's job
};

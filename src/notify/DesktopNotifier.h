#pragma once

#include "NoticeChannel.h"

/// The desktop's notification service (org.freedesktop.Notifications on the session bus), which shows
/// a notice on desktops without a tray too. A send fails, with the cause, where no service answers:
/// the caller then falls back on the tray balloon.
class DesktopNotifier : public NoticeChannel {
    Q_OBJECT
public:
    /// How long the service may take to take a notice.
    static constexpr int TimeoutMs = 5000;

    using NoticeChannel::NoticeChannel;
    /// Whether a notification service is on the session bus now.
    static bool available();
    quint64 send(const Notice &notice) override;
    /// A message that is no notice (the first-run hint), through the same service.
    quint64 show(const QString &title, const QString &text);
};

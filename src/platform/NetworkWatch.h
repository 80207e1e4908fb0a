#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

/// Notices that the machine's network changed: an interface, address or route came or went (on Linux
/// a netlink route socket read on the event loop; elsewhere Qt's network information), or the machine
/// woke from suspend (logind, where there is a system bus). A burst of events gives one changed(), a
/// quiet interval after the last of them. Nothing is opened before start().
class NetworkWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultQuietMs = 2000;

    explicit NetworkWatch(QObject *parent = nullptr);
    ~NetworkWatch() override;

    /// Opens what there is to watch. False when nothing could be opened (the reason is logged).
    bool start();
    bool watching() const { return m_watching; }
    /// How long it stays quiet after an event before changed() is sent.
    void setQuietInterval(int milliseconds);
    /// One event: changed() follows once no other event came for the quiet interval.
    void noteEvent();

signals:
    void changed();

private slots:
    // A slot by name: QtDBus connects signals of the bus only that way.
    void PrepareForSleep(bool sleeping);

private:
    bool startRouteSocket();
    void readRouteSocket();
    void watchSleep();

    QTimer *m_quiet;
    bool m_watching = false;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

/// Notices that the machine's network changed: an interface, address or route came or went (on Linux
/// a netlink route socket read on the event loop; elsewhere Qt's network information), or the machine
/// woke from suspend (logind, where there is a system bus). A burst of events gives one changed(), a
/// quiet interval after the last of them. Interfaces and addresses that read the same as before after
/// such a burst give none: a router's advertisements renew addresses and a wireless scan reports on
/// its link every few minutes. Nothing is opened before start().
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
    /// One event that always counts: changed() follows once no other event came for the quiet interval.
    void noteEvent();
    /// The interfaces, their state and addresses, as one comparable text.
    static QString interfacesNow();

signals:
    void changed();

private slots:
    // A slot by name: QtDBus connects signals of the bus only that way.
    void PrepareForSleep(bool sleeping);

private:
    bool startRouteSocket();
    void readRouteSocket();
    void watchSleep();
    void noteRouteEvent(bool mustTell);
    void QuietAgain();

    QTimer *m_quiet;
    bool m_mustTell = false; // a route, a waking or lost messages: changed() whatever the interfaces say
    QString m_interfaces;    // interfacesNow() at start and at the end of the last burst
    bool m_watching = false;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

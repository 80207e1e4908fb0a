#pragma once

#include <QObject>
#include <QSet>
#include <functional>

class QProcess;
class QTimer;

/// The processes this program adopts as a child subreaper (Linux): what the command on change leaves
/// when its launcher is killed, or when it runs without one, comes here instead of to init. They are
/// ended and reaped one by one, never with waitpid(-1), which would take the exit statuses that QProcess
/// waits for; so every QProcess the program starts is registered with own() and left alone.
class Orphans : public QObject {
    Q_OBJECT
public:
    /// Makes this process the subreaper; false (logged) where the system refuses it or has none.
    static bool adopt();
    static bool adopting();
    /// A child the program starts itself, registered before it starts (main thread only).
    static void own(QProcess *process);

    explicit Orphans(QObject *parent = nullptr);
    ~Orphans() override;

    /// Ends what has been adopted, and what comes while it ends: SIGTERM, GraceMs, then SIGKILL until
    /// none is left; then runs `then`. The number found at first, 0 when there is none (or this process
    /// adopts nothing): `then` has run already.
    int sweep(std::function<void()> then);
    bool busy() const { return bool(m_then); }

    static constexpr int GraceMs = 1000;
    /// Past this, what still runs (a process stuck in the kernel) is logged and left.
    static constexpr int GiveUpMs = 10000;

private:
    void round();

    QTimer *m_timer;
    QSet<qint64> m_terminated;
    qint64 m_started = 0;
    std::function<void()> m_then;
};

#pragma once

#include <QObject>

class QSocketNotifier;

/// SIGTERM, SIGINT and SIGHUP delivered through the event loop: the handler only writes the signal's number
/// to a socket, and `requested` is emitted from the loop, where ending the program is safe. One
/// object at a time; the default actions come back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void requested(int signal);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

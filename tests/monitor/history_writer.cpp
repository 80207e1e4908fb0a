// Appends to the history file given as the program and the service do, with a bound small enough that
// a trim comes every few appends: "external" events, the old value counting up from 0 and the source
// naming this writer, until the time given (milliseconds since the epoch, so that two writers stop
// together). Prints how many it appended; exits with 1 as soon as an append fails.
#include "AddressHistory.h"

#include <QThread>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    AddressHistory history(QString::fromLocal8Bit(argv[1]), QByteArray(argv[2]).toLongLong());
    const QString name = QString::fromLocal8Bit(argv[3]);
    const qint64 until = QByteArray(argv[4]).toLongLong();
    int count = 0;
    for (; QDateTime::currentMSecsSinceEpoch() < until; ++count) {
        const AddressHistory::Event event{QDateTime::currentDateTimeUtc(), AddressHistory::Kind::External,
                                          QString::number(count), QStringLiteral("203.0.113.7"), name};
        if (!history.append(event))
            return 1;
        // Lets the other writer in: a process that appends again at once would mostly find the lock free.
        QThread::msleep(1);
    }
    std::printf("%d\n", count);
    return 0;
}

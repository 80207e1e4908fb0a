// Holds the notifier lock of the settings folder given, as the service does: prints "held" (or
// "refused") and keeps it until standard input closes or the process is killed.
#include "NotifierLock.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    // The lock records the program's name, which tells a live holder from a reused process number.
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    NotifierLock lock(QString::fromLocal8Bit(argv[1]));
    const bool held = lock.acquire();
    std::puts(held ? "held" : "refused");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return held ? 0 : 1;
}

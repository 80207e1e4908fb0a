#pragma once

#include "HeapPolicy.h"

#include <QFile>
#include <QString>
#include <chrono>

namespace Bench {
/// The heap as the program's main() sets it.
inline void heapAsMain()
{
    HeapPolicy::oneArena();
    HeapPolicy::largeBlocksMapped();
}

/// Wall-clock microseconds, comparable with time.time() in the harness.
inline long long nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

/// Resident set size of this process in kB.
inline long long rssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

/// Whether a library whose path contains name is mapped into this process.
inline bool mapped(const char *name)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(name);
}
} // namespace Bench

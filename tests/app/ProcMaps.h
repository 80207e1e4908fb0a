#pragma once

#include <QFile>
#include <QString>

/// How many of the process's memory mappings come from files whose path contains name; -1 when the
/// process's map cannot be read.
inline int mappingsOf(const QString &pid, const QByteArray &name)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        if (line.contains(name))
            ++count;
    }
    return count;
}

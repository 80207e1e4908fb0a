#include "DefaultRoute.h"

#include "WholeFile.h"

#include <QFile>
#include <QList>

#include <limits>

QString DefaultRoute::interfaceIn(const QByteArray &table)
{
    constexpr unsigned RouteUp = 0x1; // RTF_UP
    QString best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    const QList<QByteArray> lines = table.split('\n');
    // The first line names the columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 8)
            continue;
        bool flagsRead = false, metricRead = false;
        const uint flags = fields.at(3).toUInt(&flagsRead, 16);
        const qulonglong metric = fields.at(6).toULongLong(&metricRead);
        const bool isDefault = fields.at(1) == "00000000" && fields.at(7) == "00000000";
        if (isDefault && flagsRead && (flags & RouteUp) && metricRead && metric < bestMetric) {
            best = QString::fromLocal8Bit(fields.at(0));
            bestMetric = metric;
        }
    }
    return best;
}

QString DefaultRoute::interfaceName()
{
    QFile file(QStringLiteral("/proc/net/route"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A line a route: bounded, since a router with a full table would hand over megabytes.
    const QByteArray table = WholeFile::readUpTo(file, qint64(1) << 20);
    return interfaceIn(table);
}

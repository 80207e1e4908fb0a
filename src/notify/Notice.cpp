#include "Notice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QString eventName(Notice::Event event)
{
    switch (event) {
    case Notice::Event::Changed:
        return QStringLiteral("changed");
    case Notice::Event::Test:
        return QStringLiteral("test");
    case Notice::Event::Alive:
        return QStringLiteral("alive");
    case Notice::Event::Failing:
        return QStringLiteral("failing");
    }
    return {};
}
} // namespace

QString Notice::title() const
{
    if (event == Event::Test)
        return QStringLiteral("Netquill test notice from ") + hostName;
    const bool external = externalOld != externalNew;
    const bool internal = internalOld != internalNew;
    const bool six =
        ipv6 && (ipv6->externalOld != ipv6->externalNew || ipv6->internalOld != ipv6->internalNew);
    const QString what = (external || internal) && six ? QStringLiteral("Addresses")
                         : six                         ? QStringLiteral("IPv6 address")
                         : external && internal        ? QStringLiteral("Addresses")
                         : internal                    ? QStringLiteral("Internal address")
                                                       : QStringLiteral("External address");
    return what + QStringLiteral(" of ") + hostName + QStringLiteral(" changed");
}

QString Notice::text() const
{
    if (event == Event::Test)
        return QStringLiteral("This is a test notice. External address: %1, internal address: %2.")
            .arg(externalNew, internalNew);
    QString text = QStringLiteral("External: %1 (was %2)\nInternal: %3 (was %4)\nSource: %5")
                       .arg(externalNew, externalOld, internalNew, internalOld, source);
    if (ipv6)
        text += QStringLiteral("\nExternal IPv6: %1 (was %2)\nInternal IPv6: %3 (was %4)")
                    .arg(ipv6->externalNew, ipv6->externalOld, ipv6->internalNew, ipv6->internalOld);
    if (!confirmedBy.isEmpty())
        text += QStringLiteral("\nConfirmed by: ") + confirmedBy.join(QStringLiteral(", "));
    return text + QStringLiteral("\nTime: ") + time.toUTC().toString(Qt::ISODate);
}

QByteArray Notice::json() const
{
    QJsonObject document{
        {QStringLiteral("version"), 1},
        {QStringLiteral("event"), eventName(event)},
        {QStringLiteral("time"), time.toUTC().toString(Qt::ISODate)},
        {QStringLiteral("host"), hostName},
        {QStringLiteral("internal"),
         QJsonObject{{QStringLiteral("old"), internalOld}, {QStringLiteral("new"), internalNew}}},
        {QStringLiteral("external"),
         QJsonObject{{QStringLiteral("old"), externalOld}, {QStringLiteral("new"), externalNew}}},
        {QStringLiteral("source"), source},
        {QStringLiteral("confirmedBy"), QJsonArray::fromStringList(confirmedBy)},
    };
    // Added beside the rest, so that a receiver of version 1 reads what it knew as before.
    if (ipv6)
        document.insert(
            QStringLiteral("ipv6"),
            QJsonObject{
                {QStringLiteral("internal"), QJsonObject{{QStringLiteral("old"), ipv6->internalOld},
                                                         {QStringLiteral("new"), ipv6->internalNew}}},
                {QStringLiteral("external"), QJsonObject{{QStringLiteral("old"), ipv6->externalOld},
                                                         {QStringLiteral("new"), ipv6->externalNew}}}});
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

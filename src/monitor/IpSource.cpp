#include "IpSource.h"

#include <netquill/BuildIdentity.h>

QString IpSource::displayName() const
{
    if (!productPage)
        return url.toDisplayString();
    const QString name = QString::fromUtf8(BuildIdentity::ProductName) + QStringLiteral(" page");
    if (url.host().isEmpty())
        return name;
    const QString port = url.port() < 0 ? QString() : QLatin1Char(':') + QString::number(url.port());
    return name + QStringLiteral(" at ") + url.host() + port;
}

#include "IpSource.h"

#include <netquill/BuildIdentity.h>

QString IpSource::displayName() const
{
    if (!productPage)
        return url.toDisplayString();
    const QString name = QString::fromUtf8(BuildIdentity::ProductName) + QStringLiteral(" page");
    return url.host().isEmpty() ? name : name + QStringLiteral(" at ") + url.authority(QUrl::FullyDecoded);
}

#include "modIdentity.h"

#include <netquill/BuildIdentity.h>

ProductIdentity &modIdentity::Identity()
{
    static ProductIdentity identity;
    return identity;
}

void modIdentity::LoadProductIdentity()
{
    ProductIdentity &identity = Identity();
    identity.strProgramName = QString::fromUtf8(BuildIdentity::ProductName);
    identity.strCompany = QString::fromUtf8(BuildIdentity::CompanyName);
    identity.strWebsite = QString::fromUtf8(BuildIdentity::Comments);
    identity.blnSkinEnabled = true;
}

QString modIdentity::VersionText()
{
    return QStringLiteral("%1.%2").arg(BuildIdentity::VersionMajor).arg(BuildIdentity::VersionMinor);
}

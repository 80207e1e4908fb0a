#pragma once

#include <QString>

/// How the program names itself: from the build's version information, filled once and then only read.
struct ProductIdentity {
    QString strProgramName;
    QString strCompany;
    QString strWebsite;
    bool blnSkinEnabled = false;
};

namespace modIdentity {
/// The program-wide identity record.
ProductIdentity &Identity();
/// Fills the identity from the version information; calling it again stores the same values.
void LoadProductIdentity();
/// The version as "major.minor", e.g. "2.0".
QString VersionText();
} // namespace modIdentity

#pragma once

#include "Guarded.h"

#include <QString>

/// The mail settings as text, kept in step with the store by the mail configuration dialog.
struct MailSettings {
    QString strEmailTo;
    QString strEmailFrom;
    QString strServer;
    QString strPort;
    QString strSecurity = QStringLiteral("None"); // "None", "STARTTLS" or "SSL/TLS"
    QString strUser{};                            // empty: no login
    QString strPassword{};                        // held in memory only; the keyring keeps it
};

/// The settings as the dialog edits them and the mail thread reads them, step by step.
using SharedMailSettings = Guarded<MailSettings>;

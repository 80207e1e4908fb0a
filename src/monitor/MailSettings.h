#pragma once

#include <QString>

/// The four mail settings as text, kept in step with the store by the mail configuration dialog.
struct MailSettings {
    QString strEmailTo;
    QString strEmailFrom;
    QString strServer;
    QString strPort;
};

#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

/// The mail settings as text, as the mail configuration dialog edits them.
struct MailSettings {
    QString strEmailTo;
    QString strEmailFrom;
    QString strServer;
    QString strPort;
    QString strSecurity = QStringLiteral("None"); // "None", "STARTTLS" or "SSL/TLS"
    QString strUser{};                            // empty: no login
    /// Held in memory only; the keyring keeps it. None while the keyring has not answered yet: a
    /// login waits for it rather than sending an empty password.
    std::optional<QString> strPassword = QString();
};
Q_DECLARE_METATYPE(MailSettings)

/// How one send operation ended. Every Send ends with exactly one.
struct MailResult {
    quint64 job = 0;
    /// The operation started a session that got as far as connecting (or waits for its time-out).
    bool started = false;
    /// "Message Sent" was shown.
    bool sent = false;
    /// The last status text the operation raised: the error shown, or "Message Sent".
    QString status;
};
Q_DECLARE_METATYPE(MailResult)

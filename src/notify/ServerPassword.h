#pragma once

#include <QString>

/// The mail password on a machine where no keyring answers: a systemd credential
/// (`$CREDENTIALS_DIRECTORY/mail-password`), else the password file the settings name. The file is
/// refused while anyone but its owner may read or change it. Neither is ever written from here.
struct ServerPassword {
    enum class Outcome {
        None,    // neither is there: the keyring keeps the password
        Found,   // password holds it
        Refused, // problem holds the status for the mail; the cause is logged
    };
    Outcome outcome = Outcome::None;
    QString password;
    QString problem;

    /// Name of the credential in the credentials folder.
    static inline const QString CredentialName = QStringLiteral("mail-password");
    /// Longest file taken; a password is a line, not a document.
    static constexpr qint64 SizeLimit = 4096;

    /// Looks at the credential, then at passwordFile (relative to folder), each time it is asked, so
    /// that a file put right while the program runs is used for the next notice.
    static ServerPassword find(const QString &passwordFile, const QString &folder);
};

#include "ServerPassword.h"

#include "MailLog.h"
#include "WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
ServerPassword refused(const QString &fileName, const QString &cause, const QString &status)
{
    qCWarning(lcMail).noquote() << "The mail password file" << fileName << "is not used -" << cause;
    return {ServerPassword::Outcome::Refused, {}, status};
}

/// The first line of the file: `echo secret > file` leaves a line break that is no part of it.
ServerPassword readPassword(const QString &fileName, bool ownerOnly)
{
    const QString unreadable = QStringLiteral("Error: The mail password file cannot be read.");
    QFile file(fileName);
    if (ownerOnly) {
        constexpr QFile::Permissions Others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        if (file.permissions() & Others)
            return refused(fileName, QStringLiteral("others than its owner may read or change it"),
                           QStringLiteral("Error: The mail password file may be read by others; allow only "
                                          "its owner (chmod 600)."));
    }
    QString problem;
    std::optional<QByteArray> text = WholeFile::read(fileName, ServerPassword::SizeLimit, problem);
    if (!text)
        return refused(fileName, problem, unreadable);
    if (const qsizetype end = text->indexOf('\n'); end >= 0)
        text->truncate(end);
    if (text->endsWith('\r'))
        text->chop(1);
    if (text->isEmpty())
        return refused(fileName, QStringLiteral("its first line is empty"),
                       QStringLiteral("Error: The mail password file is empty."));
    return {ServerPassword::Outcome::Found, QString::fromUtf8(*text), {}};
}
} // namespace

ServerPassword ServerPassword::find(const QString &passwordFile, const QString &folder)
{
    // systemd hands a credential over in a folder only this service can read.
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (!credentials.isEmpty()) {
        const QString credential = QDir(credentials).filePath(CredentialName);
        if (QFileInfo::exists(credential))
            return readPassword(credential, false);
    }
    if (passwordFile.trimmed().isEmpty())
        return {};
    return readPassword(QDir(folder).absoluteFilePath(passwordFile.trimmed()), true);
}

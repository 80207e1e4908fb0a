#include "ChannelSecrets.h"

#include "KeyringWrite.h"
#include "MailLog.h"
#include "WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <qt6keychain/keychain.h>

namespace {
QString keyOf(const QString &name)
{
    return QStringLiteral("notice channel ") + name;
}

bool meansNoKeyring(QKeychain::Error error)
{
    return error != QKeychain::NoError && error != QKeychain::EntryNotFound;
}
} // namespace

ChannelSecrets::ChannelSecrets(QString service, QObject *parent)
    : QObject(parent), m_service(std::move(service))
{
}

std::optional<QString> ChannelSecrets::credential(const QString &name) const
{
    const QString folder = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (folder.isEmpty())
        return std::nullopt;
    const QString path = QDir(folder).filePath(QStringLiteral("channel-") + name);
    if (!QFileInfo::exists(path))
        return std::nullopt;
    QString problem;
    const std::optional<QByteArray> text = WholeFile::read(path, CredentialLimit, problem);
    if (!text) {
        qCWarning(lcMail).noquote() << "The credential of channel" << name << "cannot be read:" << problem;
        return QString();
    }
    return QString::fromUtf8(*text).trimmed();
}

void ChannelSecrets::whenReady(const QString &name, std::function<void(const QString &)> work)
{
    if (const auto known = m_known.constFind(name); known != m_known.cend())
        return work(*known);
    if (const std::optional<QString> fixed = credential(name)) {
        m_known.insert(name, *fixed);
        return work(*fixed);
    }
    // Asked once: without a keyring each read would wait for the same failure, and log it again.
    if (!m_keyringAvailable)
        return work(QString());
    auto &waiting = m_waiting[name];
    waiting.append(std::move(work));
    if (waiting.size() > 1)
        return; // a read is under way
    // Jobs delete themselves once finished; they are no children, as the keyring library may still
    // call one back after its owner is gone.
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(keyOf(name));
    connect(job, &QKeychain::Job::finished, this, [this, job, name] {
        if (meansNoKeyring(job->error())) {
            qCWarning(lcMail).noquote()
                << "Cannot read the secret of channel" << name << "from the keyring:" << job->errorString();
            m_keyringAvailable = false;
        }
        // A secret saved while the keyring was read is newer than what it held.
        if (!m_known.contains(name))
            m_known.insert(name, job->error() == QKeychain::NoError ? job->textData() : QString());
        const QString secret = m_known.value(name);
        for (const auto &work : m_waiting.take(name))
            work(secret);
    });
    job->start();
}

void ChannelSecrets::save(const QString &name, const QString &secret)
{
    m_known.insert(name, secret);
    QKeychain::Job *job = keyringWrite(m_service, keyOf(name), secret);
    connect(job, &QKeychain::Job::finished, this, [this, job, name] {
        const bool ok = keyringWritten(job);
        if (!ok)
            qCWarning(lcMail).noquote()
                << "Cannot write the secret of channel" << name << "to the keyring:" << job->errorString()
                << "- it is kept until the program ends";
        m_keyringAvailable = !meansNoKeyring(job->error());
        emit written(name, ok);
    });
    job->start();
}

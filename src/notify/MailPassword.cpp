#include "MailPassword.h"

#include <qt6keychain/keychain.h>

namespace {
const QString Key = QStringLiteral("mail server password");

bool MeansNoKeyring(QKeychain::Error error)
{
    return error != QKeychain::NoError && error != QKeychain::EntryNotFound;
}
} // namespace

MailPassword::MailPassword(QString service, QObject *parent) : QObject(parent), m_service(std::move(service))
{
}

void MailPassword::Load()
{
    if (m_state != State::NotLoaded)
        return;
    m_state = State::Loading;
    // Jobs are not children of this object: the keyring library still calls a job back after an
    // owner's destruction would have deleted it. They delete themselves once finished.
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(Key);
    const int writesBefore = m_writes;
    connect(job, &QKeychain::Job::finished, this, [this, job, writesBefore] {
        setKeyringAvailable(!MeansNoKeyring(job->error()));
        // A password typed while the keyring was being read is newer than what it held.
        if (m_writes == writesBefore && job->error() == QKeychain::NoError)
            m_value = job->textData();
        m_state = State::Loaded;
        emit loaded(m_value);
    });
    job->start();
}

void MailPassword::Save(const QString &password)
{
    m_value = password;
    if (m_state == State::NotLoaded)
        m_state = State::Loaded;
    ++m_writes;
    QKeychain::Job *job = nullptr;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(m_service);
    } else {
        auto *write = new QKeychain::WritePasswordJob(m_service);
        write->setTextData(password);
        job = write;
    }
    job->setKey(Key);
    connect(job, &QKeychain::Job::finished, this,
            [this, job] { setKeyringAvailable(!MeansNoKeyring(job->error())); });
    job->start();
}

void MailPassword::setKeyringAvailable(bool available)
{
    if (m_keyringAvailable == available)
        return;
    m_keyringAvailable = available;
    emit keyringAvailableChanged(available);
}

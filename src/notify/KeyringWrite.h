#pragma once

#include <QString>
#include <qt6keychain/keychain.h>

/// A keyring job that stores `value` under `key`, or removes the entry when `value` is empty. Not
/// started; it deletes itself once finished.
inline QKeychain::Job *keyringWrite(const QString &service, const QString &key, const QString &value)
{
    QKeychain::Job *job = nullptr;
    if (value.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(service);
    } else {
        auto *write = new QKeychain::WritePasswordJob(service);
        write->setTextData(value);
        job = write;
    }
    job->setKey(key);
    return job;
}

/// Whether a finished write or removal did its work: removing what the keyring does not hold has.
inline bool keyringWritten(const QKeychain::Job *job)
{
    return job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
}

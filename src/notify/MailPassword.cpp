#include "MailPassword.h"

#include "KeyringWrite.h"
#include "MailLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {
const QString Key = QStringLiteral("mail server password");
// The end of the program waits this long for the keyring to take a password typed just before.
constexpr int QuitWaitMs = 3000;

bool MeansNoKeyring(QKeychain::Error error)
{
    return error != QKeychain::NoError && error != QKeychain::EntryNotFound;
}
} // namespace

MailPassword::MailPassword(QString service, QObject *parent)
    : QObject(parent), m_service(std::move(service)), m_pause(new QTimer(this))
{
    m_pause->setSingleShot(true);
    m_pause->setInterval(TypingPauseMs);
    connect(m_pause, &QTimer::timeout, this, &MailPassword::Write);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { FinishWrites(QuitWaitMs); });
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
    const int savesBefore = m_saves;
    connect(job, &QKeychain::Job::finished, this, [this, job, savesBefore] {
        if (MeansNoKeyring(job->error()))
            qCWarning(lcMail).noquote()
                << "Cannot read the mail password from the keyring:" << job->errorString();
        setKeyringAvailable(!MeansNoKeyring(job->error()));
        // A password typed while the keyring was being read is newer than what it held.
        if (m_saves == savesBefore && job->error() == QKeychain::NoError)
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
    ++m_saves;
    m_unwritten = true;
    m_pause->start();
}

void MailPassword::Flush()
{
    if (m_unwritten)
        Write();
}

void MailPassword::Write()
{
    m_pause->stop();
    m_unwritten = false;
    QKeychain::Job *job = keyringWrite(m_service, Key, m_value);
    ++m_writing;
    const int savesBefore = m_saves;
    // The keyring runs its jobs one after another in the order started, so the last one wins.
    connect(job, &QKeychain::Job::finished, this, [this, job, savesBefore] {
        --m_writing;
        // Removing what the keyring does not hold has done its work.
        const bool ok = keyringWritten(job);
        if (!ok) {
            qCWarning(lcMail).noquote()
                << "Cannot write the mail password to the keyring:" << job->errorString();
            // Kept for the next Flush, unless a newer password is already on its way.
            if (m_saves == savesBefore)
                m_unwritten = true;
        }
        setKeyringAvailable(!MeansNoKeyring(job->error()));
        emit written(ok);
    });
    job->start();
}

bool MailPassword::FinishWrites(int timeoutMs)
{
    Flush();
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    const QMetaObject::Connection done = connect(this, &MailPassword::written, &loop, [this, &loop] {
        if (m_writing == 0)
            loop.quit();
    });
    if (m_writing > 0) {
        QTimer::singleShot(deadline.remainingTime(), &loop, &QEventLoop::quit);
        loop.exec();
    }
    disconnect(done);
    if (m_writing > 0)
        qCWarning(lcMail) << "The keyring did not answer within" << timeoutMs
                          << "ms; the mail password may not be saved";
    return m_writing == 0 && !m_unwritten;
}

void MailPassword::setKeyringAvailable(bool available)
{
    if (m_keyringAvailable == available)
        return;
    m_keyringAvailable = available;
    emit keyringAvailableChanged(available);
}

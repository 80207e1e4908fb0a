#include "MailSender.h"

#include "Winsock.h"

#include <QThread>

MailSender::MailSender(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<MailResult>();
}

MailSender::~MailSender()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
}

void MailSender::Start()
{
    if (m_thread)
        return;
    auto *socket = new Winsock;
    m_session = new SmtpSession(socket, m_settings, m_inputs);
    socket->setParent(m_session);
    m_session->setTickInterval(m_tickMs);
    // Queued from the mail thread, in the order the session raised them.
    connect(m_session, &SmtpSession::statusChanged, this, &MailSender::statusChanged);
    // Told before the session's last status text, so that a send made on that text finds it free.
    connect(m_session, &SmtpSession::released, this, [this](quint64 job) {
        m_unfinished.remove(job);
        m_connected = false;
    });
    connect(m_session, &SmtpSession::ended, this, [this](const MailResult &result) {
        m_unfinished.remove(result.job);
        emit finished(result);
    });

    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("netquill-mail"));
    m_session->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_session, &QObject::deleteLater);
    m_thread->start();
}

void MailSender::setSettings(const MailSettings &settings)
{
    m_settings = settings;
    if (m_session)
        QMetaObject::invokeMethod(m_session,
                                  [session = m_session, settings] { session->setSettings(settings); });
}

void MailSender::setInputs(const SmtpMessageInputs &inputs)
{
    m_inputs = inputs;
    if (m_session)
        QMetaObject::invokeMethod(m_session, [session = m_session, inputs] { session->setInputs(inputs); });
}

void MailSender::setTickInterval(int milliseconds)
{
    m_tickMs = milliseconds;
    if (m_session)
        QMetaObject::invokeMethod(
            m_session, [session = m_session, milliseconds] { session->setTickInterval(milliseconds); });
}

quint64 MailSender::Send()
{
    const quint64 job = ++m_lastJob;
    const SmtpSession::Opening opening = SmtpSession::Open(m_settings, m_connected);
    for (const QString &status : opening.statuses)
        emit statusChanged(status);
    if (opening.step == SmtpSession::Opening::Step::Refused) {
        // After Send has returned, as from the session, so that the caller knows the job by then.
        QMetaObject::invokeMethod(
            this,
            [this, job, status = opening.statuses.value(0)] {
                emit finished({job, false, false, status});
            },
            Qt::QueuedConnection);
        return job;
    }
    Start();
    if (opening.step != SmtpSession::Opening::Step::Busy)
        m_unfinished.insert(job);
    if (opening.step == SmtpSession::Opening::Step::Connect)
        m_connected = true;
    QMetaObject::invokeMethod(
        m_session, [session = m_session, job, step = opening.step] { session->Continue(job, step); });
    return job;
}

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
    connect(m_session, &SmtpSession::sendReturned, this, &MailSender::sendReturned);
    connect(m_session, &SmtpSession::ended, this, [this](const MailResult &result) {
        --m_unfinished;
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
    Start();
    const quint64 job = ++m_lastJob;
    ++m_unfinished;
    QMetaObject::invokeMethod(m_session, [session = m_session, job] { session->Send(job); });
    return job;
}

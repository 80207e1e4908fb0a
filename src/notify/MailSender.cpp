#include "MailSender.h"

#include "Winsock.h"

#include <QPointer>
#include <QThread>

MailSender::MailSender(std::function<MailSettings()> settings, std::function<SmtpMessageInputs()> inputs,
                       QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_inputs(std::move(inputs))
{
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
    if (m_keeper)
        m_session->setPasswordKeeper(m_keeper);
    // Run on the mail thread as the session raises them, so that the order is kept across threads.
    connect(
        m_session, &SmtpSession::statusChanged, m_session,
        [this](const QString &text) { Post([this, text] { emit statusChanged(text); }); },
        Qt::DirectConnection);
    connect(
        m_session, &SmtpSession::stateChanged, m_session,
        [this](SmtpSession::State state) {
            Post([this, state] {
                m_state = state;
                emit stateChanged(state);
            });
        },
        Qt::DirectConnection);
    connect(
        m_session, &SmtpSession::finished, m_session,
        [this](bool sent) { Post([this, sent] { emit finished(sent); }); }, Qt::DirectConnection);

    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("netquill-mail"));
    m_session->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_session, &QObject::deleteLater);
    m_thread->start();
}

bool MailSender::Send()
{
    Start();
    // The mail thread only ever queues work for this one, so waiting for it cannot deadlock; it is
    // idle between replies, so the wait is short. What the session raises after the send operation
    // (on a fast server, maybe all of it) comes later, as from any other step.
    qsizetype raised = 0;
    bool started = false;
    QMetaObject::invokeMethod(
        m_session,
        [this, &raised, &started] {
            const bool idle = m_session->state() == SmtpSession::State::Idle;
            m_session->Send();
            started = idle && m_session->state() != SmtpSession::State::Idle;
            raised = Raised();
        },
        Qt::BlockingQueuedConnection);
    Deliver(raised);
    return started;
}

void MailSender::Synchronize()
{
    if (!m_session)
        return;
    qsizetype raised = 0;
    QMetaObject::invokeMethod(
        m_session, [this, &raised] { raised = Raised(); }, Qt::BlockingQueuedConnection);
    Deliver(raised);
}

void MailSender::setPasswordKeeper(MailPassword *keeper)
{
    m_keeper = keeper;
    if (m_session)
        QMetaObject::invokeMethod(
            m_session, [session = m_session, keeper] { session->setPasswordKeeper(keeper); },
            Qt::BlockingQueuedConnection);
}

void MailSender::Post(std::function<void()> event)
{
    const QMutexLocker lock(&m_mutex);
    m_events.append(std::move(event));
    if (m_events.size() == 1)
        QMetaObject::invokeMethod(
            this, [this] { Deliver(); }, Qt::QueuedConnection);
}

qsizetype MailSender::Raised()
{
    const QMutexLocker lock(&m_mutex);
    return m_events.size();
}

void MailSender::Deliver(qsizetype count)
{
    // A receiver may send again, and so deliver from within this loop, or delete this object.
    const QPointer<MailSender> alive(this);
    for (; count > 0 && alive; --count) {
        std::function<void()> event;
        {
            const QMutexLocker lock(&m_mutex);
            if (m_events.isEmpty())
                return;
            event = m_events.takeFirst();
        }
        event();
    }
}

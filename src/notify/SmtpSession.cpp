// placeholder, to be written
#include "SmtpSession.h"
#include <QTimer>
SmtpSession::SmtpSession(Winsock *socket, const MailSettings &settings, std::function<SmtpMessageInputs()> inputs,
                         QObject *parent)
    : QObject(parent), m_socket(socket), m_settings(settings), m_inputs(std::move(inputs)), m_timer(new QTimer(this)) {}
void SmtpSession::Send() {}
void SmtpSession::setTickInterval(int ms) { m_timer->setInterval(ms); }

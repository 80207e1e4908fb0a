#pragma once

#include <QLoggingCategory>

/// The mail session, the mail password's keyring and the notification backlog ("netquill.mail").
Q_DECLARE_LOGGING_CATEGORY(lcMail)

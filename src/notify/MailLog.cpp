#include "MailLog.h"

Q_LOGGING_CATEGORY(lcMail, "netquill.mail")

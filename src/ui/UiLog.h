#pragma once

#include <QLoggingCategory>

/// The windows: what they load at run time (the browser window's library, the help file).
Q_DECLARE_LOGGING_CATEGORY(lcUi)

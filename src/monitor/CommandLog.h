#pragma once

#include <QLoggingCategory>

/// The command run on an address change: refusals, exit statuses, its output ("netquill.command").
Q_DECLARE_LOGGING_CATEGORY(lcCommand)

#pragma once

#include <QLoggingCategory>

/// What the service reports about itself: its status texts, addresses and ends ("netquill.service").
Q_DECLARE_LOGGING_CATEGORY(lcService)

namespace ServiceLog {
/// Every message, of every category, as one line "<category>: <message>" on standard error, written
/// out at once: journald takes each line as it comes, and a terminal shows them without colour codes.
void install();
} // namespace ServiceLog

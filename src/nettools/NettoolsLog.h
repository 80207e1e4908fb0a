#pragma once

#include <QLoggingCategory>

/// The network tools: name conversions and whois.
Q_DECLARE_LOGGING_CATEGORY(lcNettools)

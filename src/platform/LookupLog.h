#pragma once

#include <QLoggingCategory>

/// Finding the external address: page fetches, their parser, the sources asked.
Q_DECLARE_LOGGING_CATEGORY(lcLookup)

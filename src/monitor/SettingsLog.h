#pragma once

#include <QLoggingCategory>

/// Reading and writing the settings file ("netquill.settings").
Q_DECLARE_LOGGING_CATEGORY(lcSettings)

#pragma once

#include <QLoggingCategory>

/// The machine: signals, the autostart entries and the registry stand-in's files.
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

#pragma once

#include <QLoggingCategory>

/// Writing the metrics file for node_exporter's textfile collector ("netquill.metrics").
Q_DECLARE_LOGGING_CATEGORY(lcMetrics)

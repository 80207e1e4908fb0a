#include "UiLog.h"

Q_LOGGING_CATEGORY(lcUi, "netquill.ui")

#include "NettoolsLog.h"

Q_LOGGING_CATEGORY(lcNettools, "netquill.nettools")

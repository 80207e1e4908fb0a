#include "LookupLog.h"

Q_LOGGING_CATEGORY(lcLookup, "netquill.lookup")

#include "RefreshSchedule.h"

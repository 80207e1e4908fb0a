#include "LookupCycle.h"

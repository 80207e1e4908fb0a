#include "ExternalIpPage.h"

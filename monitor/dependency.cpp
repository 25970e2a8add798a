// TEMPORARY placeholder, replaced by the real implementation.
#include "monitor/dependency.h"
int CheckDepend(const char*) { return 0; }
int HasIPAddress(const char*) { return 0; }

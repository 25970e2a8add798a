// TEMPORARY placeholder, replaced by the real implementation.
#include "monitor/space_check.h"
int32_t bbramLowWarned = 0;
int32_t bbramCriticalWarned = 0;
int32_t configLowWarned = 0;
int32_t configCriticalWarned = 0;
int CheckFileSystemSpace() { return 0; }

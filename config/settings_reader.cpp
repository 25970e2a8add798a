// TEMPORARY placeholder, replaced by the real implementation.
#include "config/settings_reader.h"
int32_t freeLimitBbram = 0;
int32_t criticalLimitBbram = 0;
int32_t freeLimitConfig = 0;
int32_t criticalLimitConfig = 0;
int ReadVigilerConfig() { return -1; }

// TEMPORARY placeholder, replaced by the real implementation.
#include "config/service_reader.h"
void ReadServiceConfigs() {}

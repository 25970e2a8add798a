// TEMPORARY placeholder, replaced by the real implementation.
#include "config/service_table.h"
DaemonConfig daemonConfigs[14] = {};
void ResetServiceTable() {}

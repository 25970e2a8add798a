// TEMPORARY placeholder, replaced by the real implementation.
#include "monitor/failure_reaction.h"
void ReactToFailure(DaemonConfig&, int, int, std::string&, std::string&) {}

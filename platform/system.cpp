// TEMPORARY placeholder, replaced by the real implementation.
#include "platform/system.h"
std::string emptyResult;
int System(std::string, std::string& output) { output.clear(); return -1; }

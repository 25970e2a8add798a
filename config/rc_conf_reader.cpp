// TEMPORARY placeholder, replaced by the real implementation.
#include "config/rc_conf_reader.h"
void ReadRCConf() {}
bool WanInterfaceName(std::string&) { return false; }

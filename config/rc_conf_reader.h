// Service enablement from the box's rc.conf, and the WAN interface name from the
// interface state file.
#pragma once

#include <string>

constexpr const char* kRcConfPath = "/etc/sysconfig/rc.conf";
constexpr const char* kInterfacesPath = "/var/run/interfaces";

// One pass: START_VIGILERD, each row's enabled flag, the WAN name. Passes never overlap.
// False when rc.conf could not be read.
bool ReadRCConf();

// Copies the current WAN interface name into `name`; false when none is known.
bool WanInterfaceName(std::string& name);

// Forgets the WAN interface name, as at process start (for tests).
void ResetWanInterface();

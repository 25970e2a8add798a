// The conditions a service may depend on: WAN link, wireless link, an rc.conf value.
#pragma once

// 1 when the condition holds, 0 otherwise.
int CheckDepend(const char* dependsOn);
// 1 when the interface has a non-zero IPv4 address (and a WAN name is known), else 0.
int HasIPAddress(const char* interfaceName);

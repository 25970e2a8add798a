// The conditions a service may depend on: WAN link, wireless link, an rc.conf value.
#pragma once

#include <string>

enum class DependencyForm { kWanLink, kWlanLink, kVariable, kUnknown };
// Which condition a DEPENDS_ON text names; only its beginning counts.
DependencyForm FormOfDependency(const char* dependsOn);

// 1 when the condition holds, 0 otherwise.
int CheckDepend(const char* dependsOn);
// 1 when the interface has a non-zero IPv4 address (and a WAN name is known), else 0.
int HasIPAddress(const char* interfaceName);

// Takes a "variable KEY VALUE" text apart: KEY lies between the first two blanks, VALUE is
// all after the second one, blanks included. False, with key and value untouched, when the
// text has fewer than two blanks or a part is longer than 49 characters.
bool SplitVariableDependency(const char* text, std::string& key, std::string& value);

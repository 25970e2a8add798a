// What follows a bad status result: count, archive, fail command or escalation.
#pragma once

#include <string>

#include "config/service_table.h"

// `commandLine` holds the status command line on entry; `output` what the script printed.
void ReactToFailure(DaemonConfig& row, int index, int returnValue, std::string& commandLine,
                    std::string& output);

// The start-up warning for each file the daemon will run or read as root that someone
// other than root could change.
#pragma once

// Logs the warning once per such file: the settings file, rc.conf, each service file, each
// status script, fail and escalation command given by absolute path, and the log archiver.
void WarnUnsafeFiles();

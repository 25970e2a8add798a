// Free-space alerts for the voice-mail and configuration file systems.
#pragma once

#include <cstdint>

extern int32_t bbramLowWarned;
extern int32_t bbramCriticalWarned;
extern int32_t configLowWarned;
extern int32_t configCriticalWarned;

int CheckFileSystemSpace();

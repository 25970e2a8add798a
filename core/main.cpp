// TEMPORARY placeholder, replaced by the real implementation.
#include "core/signals.h"
int main() { SleepForever(); }

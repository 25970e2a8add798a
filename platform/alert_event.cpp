// TEMPORARY placeholder, replaced by the real implementation.
#include "platform/alert_event.h"
int AlertEvent::Register(const char* c, const char* s) { category_ = c; source_ = s; return 1; }
int AlertEvent::Raise(const char*, const char*, const char*) { return 0; }
std::string AlertEvent::Compose(const char* t, const char*, const char*) const { return t; }

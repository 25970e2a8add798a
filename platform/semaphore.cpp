// TEMPORARY placeholder, replaced by the real implementation.
#include "platform/semaphore.h"
Semaphore::Semaphore(int id, const char* path) : id_(id), path_(path) {}
bool Semaphore::Open() { return false; }
int Semaphore::TryLock(bool) { return 0; }
void Semaphore::Unlock() {}

// One pass over the service table: run each enabled service's status script and judge it.
#pragma once

// Body of the check thread; its argument is ignored.
void* CheckAllStati(void*);

// The pass itself, without ending the thread (CheckAllStati runs it, tests call it).
void RunCheckPass();

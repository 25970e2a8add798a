// The state file: the daemon's mode, interval, pass times and each service's last check,
// rewritten whole for vigilerctl status. Owns the check records and the writing of the file.
#pragma once

#include <cstdint>

constexpr const char* kStatePath = "/var/run/vigilerd.state";

// Rewrites the state file through a temporary file and a rename, so a reader never sees half
// of it. The first failure is logged; none ever stops the caller.
void WriteStateFile();

// Keeps what start-up read and nothing changes afterwards (the interval, each row's limits),
// so no other thread ever reads start-up's variables, and writes the file for the first time.
// Called by start-up once the configuration is read.
void StartStateFile(int32_t interval);

// The start and the end of a check pass; the end also writes the state file.
void NotePassStart();
void NotePassEnd();

// Row `index` has just been checked: its dependency held (1), did not hold (0) or there is
// none (-1); `returnValue` is its last status value.
void NoteServiceCheck(int index, int32_t dependency, int32_t returnValue);

// Why the daemon sleeps for good, one fixed word ("rc-conf", "stopped", ...); called before
// the last state file is written.
void NoteAsleep(const char* reason);

// The run modes changed (under modeMutex): a pause (hibernation or the wait) keeps the time it
// began for as long as it lasts; `waitRestarted` says that a SIGHUP (re)started the wait.
void NoteModeChange(bool waitRestarted);

// The box's hardware watchdog: opening the device, the keepalives written by the signal thread,
// the stall watch, the two final stops and the disarming close. Owns the device descriptor.
#pragma once

#include <ctime>
#include <string>

// Opens WATCHDOG_DEVICE when the settings name one, sets its timeout and logs what it got.
// Start-up calls it once, right after the settings file has been read.
void OpenHardwareWatchdog();

// True while keepalives are being written.
bool HardwareWatchdogFed();

// True when the signal thread must not wait for a signal longer than `wait`: while keepalives
// are being written, and until start-up has tried the device. False: wait without a limit.
bool KeepaliveWait(timespec& wait);

// Writes a keepalive when one is due and stops them when the checks have stalled. Runs on the
// thread that takes the signals, so a dead or deadlocked signal thread starves the hardware.
void FeedHardwareWatchdog();

// A pass has ended, or checking has resumed after a pause: a stall is counted from now.
void NoteChecksAlive();

// A "reboot" escalation's command has returned: the hardware finishes a shutdown that hangs.
void StopKeepalivesForReboot();

// The operator's stop: the magic close, which disarms drivers that allow it. Does nothing
// after a final stop, which must still reset the box.
void DisarmHardwareWatchdog();

// Adds the WATCHDOG_ keys of the state file's [vigilerd] section when a device is configured.
void AppendHardwareWatchdogState(std::string& text);

// vigilerctl check: the settings file, rc.conf and the interface state file of a tree, read
// with the daemon's own library, and the finding lines every part of the check prints.
#include "ctl/check.h"

#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>

#include "config/rc_conf_reader.h"
#include "config/service_table.h"
#include "config/settings_reader.h"
#include "ctl/ctl.h"
#include "platform/config_file.h"

namespace {

bool Absent(const std::string& entry) {
    return entry == ConfigBuffer::ENTRY_NOT_FOUND;
}
bool Absent(int32_t value) {
    return value == ConfigBuffer::VALUE_NOT_FOUND;
}

const char* const kSettingsKeys[] = {
    "CHECK_INTERVAL",        "FREE_LIMIT_BBRAM", "CRITICAL_LIMIT_BBRAM", "FREE_LIMIT_CONFIG",
    "CRITICAL_LIMIT_CONFIG", "STATUS_TIMEOUT",   "COMMAND_TIMEOUT",      nullptr};

void CheckSpaceLimits(Findings& findings, const std::string& path, const ConfigBuffer& settings,
                      const char* freeKey, const char* criticalKey, const char* what) {
    int32_t free = settings.GetValue(freeKey);
    int32_t critical = settings.GetValue(criticalKey);
    for (const char* key : {freeKey, criticalKey}) {
        if (Absent(settings.GetValue(key))) {
            findings.Warning(path, settings.LineOf(key),
                             std::string(key) +
                                 " is missing or not a number: every free share of " + what +
                                 " lies below it, so its alert stands for good");
        }
    }
    if (!Absent(free) && !Absent(critical) && critical >= free) {
        findings.Warning(path, settings.LineOf(criticalKey),
                         std::string(criticalKey) + "=" + std::to_string(critical) +
                             " is at or above " + freeKey + "=" + std::to_string(free) +
                             ": the low-space alert for " + what + " is never raised");
    }
}

// Reads a file without which the daemon would sleep for good; false (and an error) when it
// cannot be read.
bool ReadOrSleep(Findings& findings, const std::string& path, ConfigFile& file) {
    try {
        file.ReadFile();
        return true;
    } catch (const std::exception&) {
        findings.Error(path, 0, "cannot be read: the daemon would sleep for good");
        return false;
    }
}

void CheckSettings(Findings& findings) {
    std::string path = findings.Under(kSettingsPath);
    ConfigFile file(path, false, true);
    if (!ReadOrSleep(findings, path, file)) {
        return;
    }
    const ConfigBuffer& settings = file.Buffer();
    for (const char* key : kSettingsKeys) {
        if (key != nullptr) {
            findings.NumberReadsAbsent(path, settings, key);
        }
    }
    findings.UnknownKeys(path, settings, kSettingsKeys);

    int32_t interval = settings.GetValue("CHECK_INTERVAL");
    if (Absent(interval)) {
        findings.Error(path, settings.LineOf("CHECK_INTERVAL"),
                       "CHECK_INTERVAL is missing or not a number: the daemon would check nothing");
    } else if (interval == -1) {
        findings.Warning(path, settings.LineOf("CHECK_INTERVAL"),
                         "CHECK_INTERVAL=-1: the daemon checks nothing");
    } else if (interval <= 0) {
        findings.Warning(path, settings.LineOf("CHECK_INTERVAL"),
                         "CHECK_INTERVAL=" + std::to_string(interval) +
                             ": the daemon never starts a pass by itself");
    }
    CheckSpaceLimits(findings, path, settings, "FREE_LIMIT_BBRAM", "CRITICAL_LIMIT_BBRAM",
                     "/mnt/bbram");
    CheckSpaceLimits(findings, path, settings, "FREE_LIMIT_CONFIG", "CRITICAL_LIMIT_CONFIG",
                     "/mnt/flashfs");
}

// Fills `enabled` from the START_ keys as the daemon's rc.conf pass does.
void CheckRcConf(Findings& findings, bool enabled[]) {
    std::string path = findings.Under(kRcConfPath);
    ConfigFile file(path, false, true);
    if (!ReadOrSleep(findings, path, file)) {
        return;
    }
    const ConfigBuffer& rcConf = file.Buffer();
    std::string run = rcConf.GetEntry("START_VIGILERD");
    if (Absent(run)) {
        findings.Error(path, 0, "START_VIGILERD is missing: the daemon would sleep for good");
    } else if (run != "true") {
        findings.Error(
            path, rcConf.LineOf("START_VIGILERD"),
            "START_VIGILERD=" + run + " is not \"true\": the daemon would sleep for good");
    }
    for (int index = 0; index < kSentinelId; ++index) {
        enabled[index] = rcConf.GetEntry(daemonConfigs[index].rcConfKey) == "true";
    }
}

// The interface state file is written at run time and usually missing from an image; when
// it is there, it must name the WAN interface.
bool CheckInterfaces(Findings& findings) {
    std::string path = findings.Under(kInterfacesPath);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return true;
    }
    ConfigFile file(path, false, true);
    try {
        file.ReadFile();
    } catch (const std::exception&) {
        findings.Warning(path, 0, "cannot be read: wanlink and wlanlink dependencies never hold");
        return false;
    }
    return !Absent(file.Buffer().GetEntry("VIRT_WAN"));
}

}  // namespace

std::string Findings::Under(const std::string& path) const {
    if (root_.empty() || root_ == "/") {
        return path;
    }
    std::string root = root_;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return path.empty() || path[0] != '/' ? root + "/" + path : root + path;
}

void Findings::Print(const std::string& path, int line, const char* kind, const std::string& text) {
    if (quiet_) {
        return;
    }
    if (line > 0) {
        printf("%s:%d: %s: %s\n", path.c_str(), line, kind, text.c_str());
    } else {
        printf("%s: %s: %s\n", path.c_str(), kind, text.c_str());
    }
}

void Findings::Error(const std::string& path, int line, const std::string& text) {
    ++errors_;
    Print(path, line, "error", text);
}

void Findings::Warning(const std::string& path, int line, const std::string& text) {
    ++warnings_;
    Print(path, line, "warning", text);
}

bool Findings::NumberReadsAbsent(const std::string& path, const ConfigBuffer& entries,
                                 const std::string& key) {
    std::string value = entries.GetEntry(key);
    if (Absent(value) || !Absent(entries.GetValue(key))) {
        return false;
    }
    Warning(path, entries.LineOf(key),
            key + "=" + value + " is not a number and reads as if it were missing");
    return true;
}

void Findings::UnknownKeys(const std::string& path, const ConfigBuffer& entries,
                           const char* const* known) {
    for (const std::string& key : entries.Keys()) {
        bool found = false;
        for (const char* const* name = known; *name != nullptr && !found; ++name) {
            found = key == *name;
        }
        if (!found) {
            Warning(path, entries.LineOf(key),
                    "unknown key " + key + " (a misspelt key reads as missing)");
        }
    }
}

void Findings::CommandPath(const std::string& path, int line, const std::string& key,
                           const std::string& command) {
    size_t begin = command.find_first_not_of(" \t");
    if (begin == std::string::npos || command[begin] != '/') {
        return;
    }
    std::string program = command.substr(begin, command.find_first_of(" \t", begin) - begin);
    struct stat info;
    if (stat(Under(program).c_str(), &info) != 0) {
        Warning(path, line, key + " " + program + " does not exist");
    } else if (!S_ISREG(info.st_mode) || (info.st_mode & 0111) == 0) {
        Warning(path, line, key + " " + program + " is not executable");
    }
}

int RunCheck(const Arguments& args) {
    std::string root = "/";
    bool quiet = false;
    for (size_t at = 0; at < args.size(); ++at) {
        if (args[at] == "--root" && at + 1 < args.size()) {
            root = args[++at];
        } else if (args[at] == "--quiet") {
            quiet = true;
        } else {
            fprintf(stderr, "vigilerctl: check: unknown argument '%s'\n", args[at].c_str());
            return kExitUsage;
        }
    }
    Findings findings(root, quiet);
    CheckSettings(findings);
    bool enabled[kSentinelId] = {};
    CheckRcConf(findings, enabled);
    bool wanKnown = CheckInterfaces(findings);
    CheckServiceFiles(findings, enabled, wanKnown);
    return findings.ExitStatus();
}

// vigilerctl check: the settings file, rc.conf and the interface state file of a tree, read
// with the daemon's own library, and the findings every part of the check reports.
#include "ctl/check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "config/rc_conf_reader.h"
#include "config/service_table.h"
#include "config/settings_reader.h"
#include "ctl/ctl.h"
#include "monitor/log_archive.h"
#include "platform/config_file.h"

namespace {

bool Absent(const std::string& entry) {
    return entry == ConfigBuffer::ENTRY_NOT_FOUND;
}
bool Absent(int32_t value) {
    return value == ConfigBuffer::VALUE_NOT_FOUND;
}

// Every key the settings file may hold; anything else is warned about as a misspelling.
// The number keys come first, then the text keys.
const char* const kSettingsKeys[] = {"CHECK_INTERVAL",
                                     "FREE_LIMIT_BBRAM",
                                     "CRITICAL_LIMIT_BBRAM",
                                     "FREE_LIMIT_CONFIG",
                                     "CRITICAL_LIMIT_CONFIG",
                                     "STATUS_TIMEOUT",
                                     "COMMAND_TIMEOUT",
                                     "LOG_MAX_KB",
                                     "LOG_SYSLOG",
                                     "WATCHDOG_TIMEOUT",
                                     "WATCHDOG_STALL",
                                     "REBOOT_BUDGET",
                                     "REBOOT_BUDGET_HOURS",
                                     "WATCHDOG_DEVICE",
                                     "LOG_LEVEL",
                                     nullptr};

// WATCHDOG_STALL and what it must be above, as the settings file gave them.
struct {
    int32_t stall = 0;
    int32_t interval = 0;
    int line = 0;
} stallLimit;

constexpr size_t kShownBytes = 200;

// The length of the UTF-8 character at `at` when it is one that prints, else 0: control
// bytes, broken sequences, C1 controls and the byte-order mark do not.
size_t PrintingCharacter(const std::string& text, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x20 || lead == 0x7f) {
        return 0;
    }
    if (lead < 0x80) {
        return 1;
    }
    size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                    : lead >= 0xe0 && lead <= 0xef ? 3
                    : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                   : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) {
            return 0;
        }
    }
    bool c1 = lead == 0xc2 && byte(at + 1) < 0xa0;
    bool bom = text.compare(at, 3, "\xef\xbb\xbf") == 0;
    return c1 || bom ? 0 : length;
}

// Non-printing bytes as \xNN, so a finding is one line a terminal shows as it is.
std::string Printable(const std::string& text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        size_t length = PrintingCharacter(text, at);
        if (length == 0) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[at]));
            shown += escaped;
            ++at;
        } else {
            shown.append(text, at, length);
            at += length;
        }
    }
    return shown;
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
        }
        json += c;
    }
    return json + "\"";
}

void CheckSpaceLimits(Findings& findings, const std::string& path, const ConfigBuffer& settings,
                      const char* freeKey, const char* criticalKey, const char* what) {
    int32_t free = settings.GetValue(freeKey);
    int32_t critical = settings.GetValue(criticalKey);
    for (const char* key : {freeKey, criticalKey}) {
        int32_t value = settings.GetValue(key);
        if (Absent(value)) {
            findings.Warning(path, settings.LineOf(key),
                             Said("%s is missing or not a number: every free share of %s lies "
                                  "below it, so its alert stands for good",
                                  key, what));
        } else if (value < 0 || value > 100) {
            findings.Warning(path, settings.LineOf(key),
                             Said("%s=%d is outside 0-100: %s free share of %s lies below it", key,
                                  value, value < 0 ? "no" : "every", what));
        }
    }
    if (!Absent(free) && !Absent(critical) && critical >= free) {
        findings.Warning(path, settings.LineOf(criticalKey),
                         Said("%s=%d is at or above %s=%d: the low-space alert for %s is never "
                              "raised",
                              criticalKey, critical, freeKey, free, what));
    }
}

// Reads a file without which the daemon would sleep for good; false (and an error) when it
// cannot be read.
bool ReadOrSleep(Findings& findings, const std::string& path, ConfigFile*& file) {
    std::string host =
        findings.FileToRead(path, true, true, "the daemon would sleep for good", "reads");
    if (host.empty()) {
        return false;
    }
    try {
        file = new ConfigFile(host, false, true);
        file->ReadFile();
        findings.Repeats(findings.Under(path), file->Buffer());
        return true;
    } catch (const std::exception& error) {
        findings.Error(findings.Under(path), 0,
                       Said("cannot be read (%s): the daemon would sleep for good", error.what()));
        return false;
    }
}

// A device that is missing is never fed.
void CheckWatchdogDevice(Findings& findings, const std::string& path,
                         const ConfigBuffer& settings) {
    std::string device = settings.GetEntry("WATCHDOG_DEVICE");
    struct stat info;
    if (Absent(device) || device.empty()) {
        return;
    }
    int line = settings.LineOf("WATCHDOG_DEVICE");
    if (stat(findings.Under(device).c_str(), &info) != 0) {
        findings.Warning(path, line,
                         Said("WATCHDOG_DEVICE %s does not exist: the hardware watchdog is not fed",
                              Shown(device).c_str()));
    } else if (!S_ISCHR(info.st_mode)) {
        findings.Warning(
            path, line,
            Said("WATCHDOG_DEVICE %s is not a character device", Shown(device).c_str()));
    }
}

// The status time limit in force for services without a TIMEOUT of their own (0: none).
int CheckSettings(Findings& findings) {
    std::string path = findings.Under(kSettingsPath);
    ConfigFile* file = nullptr;
    if (!ReadOrSleep(findings, kSettingsPath, file)) {
        delete file;
        return 0;
    }
    const ConfigBuffer& settings = file->Buffer();
    for (const char* const* key = kSettingsKeys; *key != std::string("WATCHDOG_DEVICE"); ++key) {
        findings.NumberReadsAbsent(path, settings, *key);
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
    // The budget needs both keys; one alone is easily taken for a budget that is on.
    const char* budgetKeys[] = {"REBOOT_BUDGET", "REBOOT_BUDGET_HOURS"};
    for (int key = 0; key < 2; ++key) {
        if (!Absent(settings.GetEntry(budgetKeys[key])) &&
            Absent(settings.GetEntry(budgetKeys[1 - key]))) {
            findings.Warning(path, settings.LineOf(budgetKeys[key]),
                             std::string(budgetKeys[key]) + " without " + budgetKeys[1 - key] +
                                 ": there is no reboot budget");
        }
    }
    CheckSpaceLimits(findings, path, settings, "FREE_LIMIT_BBRAM", "CRITICAL_LIMIT_BBRAM",
                     "/mnt/bbram");
    CheckSpaceLimits(findings, path, settings, "FREE_LIMIT_CONFIG", "CRITICAL_LIMIT_CONFIG",
                     "/mnt/flashfs");
    CheckWatchdogDevice(findings, path, settings);
    stallLimit.stall = PositiveOrZero(settings.GetValue("WATCHDOG_STALL"));
    stallLimit.interval = PositiveOrZero(settings.GetValue("CHECK_INTERVAL"));
    stallLimit.line = settings.LineOf("WATCHDOG_STALL");
    int statusLimit = PositiveOrZero(settings.GetValue("STATUS_TIMEOUT"));
    delete file;
    return statusLimit;
}

// A stall limit within a normal pass would reset a box whose checks are merely slow.
void CheckStallLimit(Findings& findings, int32_t longestStatus) {
    int32_t within = stallLimit.interval + longestStatus;
    if (stallLimit.stall > 0 && stallLimit.stall <= within) {
        findings.Warning(findings.Under(kSettingsPath), stallLimit.line,
                         Said("WATCHDOG_STALL=%d is not above CHECK_INTERVAL plus the longest "
                              "status time limit (%d seconds): a slow pass resets the box",
                              stallLimit.stall, within));
    }
}

// A value a person means as "on" that the daemon, which wants exactly "true", reads as off.
bool LooksOn(std::string value) {
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    for (const char* on : {"true", "yes", "y", "on", "1", "enable", "enabled"}) {
        if (value == on) {
            return true;
        }
    }
    return false;
}

// Fills `enabled` from the START_ keys as the daemon's rc.conf pass does.
void CheckRcConf(Findings& findings, bool enabled[]) {
    std::string path = findings.Under(kRcConfPath);
    ConfigFile* file = nullptr;
    if (!ReadOrSleep(findings, kRcConfPath, file)) {
        delete file;
        return;
    }
    const ConfigBuffer& rcConf = file->Buffer();
    std::string run = rcConf.GetEntry("START_VIGILERD");
    if (Absent(run)) {
        findings.Error(path, 0, "START_VIGILERD is missing: the daemon would sleep for good");
    } else if (run != "true") {
        findings.Error(path, rcConf.LineOf("START_VIGILERD"),
                       Said("START_VIGILERD=%s is not \"true\": the daemon would sleep for good",
                            Shown(run).c_str()));
    }
    for (int index = 0; index < kSentinelId; ++index) {
        const char* key = daemonConfigs[index].rcConfKey;
        std::string value = rcConf.GetEntry(key);
        enabled[index] = value == "true";
        if (!Absent(value) && !enabled[index] && LooksOn(value)) {
            findings.Warning(path, rcConf.LineOf(key),
                             Said("%s=%s reads as off: only \"true\" switches %s on", key,
                                  Shown(value).c_str(), daemonConfigs[index].name));
        }
    }
    for (const std::string& key : rcConf.Keys()) {
        bool known = key.compare(0, 6, "START_") != 0 || key == "START_VIGILERD";
        for (int index = 0; index < kSentinelId && !known; ++index) {
            known = key == daemonConfigs[index].rcConfKey;
        }
        if (!known) {
            findings.Warning(path, rcConf.LineOf(key),
                             Said("%s names no service that vigilerd watches", Shown(key).c_str()));
        }
    }
    delete file;
}

// The interface state file is written at run time and usually missing from an image; when
// it is there, it must name the WAN interface.
bool CheckInterfaces(Findings& findings) {
    const char* consequence = "wanlink and wlanlink dependencies never hold";
    std::string host = findings.FileToRead(kInterfacesPath, false, false, consequence, nullptr);
    if (host.empty()) {
        return WalkPath(findings.Under("/"), kInterfacesPath).result == PathWalk::kMissing;
    }
    ConfigFile file(host, false, true);
    try {
        file.ReadFile();
    } catch (const std::exception& error) {
        findings.Warning(findings.Under(kInterfacesPath), 0,
                         Said("cannot be read (%s): %s", error.what(), consequence));
        return false;
    }
    return !Absent(file.Buffer().GetEntry("VIRT_WAN"));
}

// The archiver runs at every counted failure; without it the logs of a failure are lost,
// which matters only when a service can fail.
void CheckArchiver(Findings& findings, bool canFail) {
    PathWalk walk = findings.Locate(kArchiverPath, "runs");
    std::string path = findings.Under(kArchiverPath);
    std::string notAFile = Findings::NotAFile(walk);
    const char* why = walk.result == PathWalk::kLoop    ? "is a link loop"
                      : walk.result != PathWalk::kFound ? "does not exist"
                      : !notAFile.empty()               ? notAFile.c_str()
                      : (walk.info.st_mode & 0111) == 0 ? "is not executable"
                                                        : nullptr;
    if (canFail && why != nullptr) {
        findings.Warning(path, 0, Said("%s: no logs are archived when a service fails", why));
    }
}

}  // namespace

std::string Said(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) {
        return "";
    }
    if (static_cast<size_t>(length) < sizeof text) {
        return std::string(text, static_cast<size_t>(length));
    }
    std::string long_text(static_cast<size_t>(length) + 1, '\0');
    va_start(args, format);
    vsnprintf(&long_text[0], long_text.size(), format, args);
    va_end(args);
    long_text.pop_back();
    return long_text;
}

std::string Shown(const std::string& value) {
    if (value.size() <= kShownBytes) {
        return value;
    }
    size_t cut = kShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xc0) == 0x80) {
        --cut;  // never inside a character
    }
    return value.substr(0, cut) + "\xe2\x80\xa6";
}

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

void Findings::Add(const std::string& path, int line, const char* level, const std::string& text) {
    findings_.push_back(Finding{Printable(path), line, level, Printable(text)});
}

void Findings::Error(const std::string& path, int line, const std::string& text) {
    Add(path, line, "error", text);
}

void Findings::Warning(const std::string& path, int line, const std::string& text) {
    Add(path, line, "warning", text);
}

PathWalk Findings::Locate(const std::string& path, const char* use) {
    std::string boxPath = !path.empty() && path[0] == '/' ? path : "/" + path;
    PathWalk walk = WalkPath(root_, boxPath, !ownerAny_);
    if (walk.leftTree && left_.insert(boxPath).second) {
        Warning(Under(boxPath), 0,
                "a link on its way climbs above the root of the tree (on the box it stays at /)");
    }
    if (walk.result != PathWalk::kFound || use == nullptr) {
        return walk;
    }
    for (const auto& unsafe : walk.unsafe) {
        if (!unsafe_.insert(unsafe.first).second) {
            continue;
        }
        bool self = unsafe.first == walk.boxPath;
        Error(Under(unsafe.first), 0,
              Said("is %s, and vigilerd %s %s%s as root", unsafe.second.c_str(), use,
                   self ? "it" : Shown(path).c_str(), self ? "" : " below it"));
    }
    return walk;
}

std::string Findings::NotAFile(const PathWalk& walk) {
    mode_t mode = walk.info.st_mode;
    const char* kind = S_ISREG(mode)                    ? nullptr
                       : S_ISDIR(mode)                  ? "a directory"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "not a regular file";
    return kind == nullptr ? "" : std::string("is ") + kind + ", not a file";
}

std::string Findings::FileToRead(const std::string& path, bool needed, bool error,
                                 const std::string& consequence, const char* use) {
    std::string shown = Under(path);
    auto report = [&](const char* what, const char* detail) {
        Add(shown, 0, error ? "error" : "warning",
            Said(detail == nullptr ? "%s: %s" : "%s (%s): %s", what,
                 detail == nullptr ? consequence.c_str() : detail, consequence.c_str()));
    };
    PathWalk walk = Locate(path, use);
    if (walk.result == PathWalk::kLoop) {
        report("is a link loop", nullptr);
        return "";
    }
    if (walk.result != PathWalk::kFound) {
        if (needed) {
            report("cannot be read", strerror(walk.error));
        }
        return "";
    }
    std::string notAFile = NotAFile(walk);
    if (!notAFile.empty()) {
        report(notAFile.c_str(), nullptr);  // never opened: a FIFO would block the open
        return "";
    }
    int fd = open(walk.hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report("cannot be read", strerror(errno));
        return "";
    }
    char head[3];
    if (read(fd, head, sizeof head) == 3 && memcmp(head, "\xef\xbb\xbf", 3) == 0) {
        Warning(shown, 1,
                "starts with a byte-order mark (\\xef\\xbb\\xbf), which the daemon reads as "
                "part of the first line");
    }
    close(fd);
    return walk.hostPath;
}

void Findings::Repeats(const std::string& path, const ConfigBuffer& entries) {
    for (const auto& replaced : entries.Replaced()) {
        Warning(path, replaced.second,
                Said("%s is given again on line %d, which wins", Shown(replaced.first).c_str(),
                     entries.LineOf(replaced.first)));
    }
}

bool Findings::NumberReadsAbsent(const std::string& path, const ConfigBuffer& entries,
                                 const std::string& key) {
    std::string value = entries.GetEntry(key);
    if (Absent(value) || !Absent(entries.GetValue(key))) {
        return false;
    }
    Warning(path, entries.LineOf(key),
            key + "=" + Shown(value) + " is not a number and reads as if it were missing");
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
                    "unknown key " + Shown(key) + " (a misspelt key reads as missing)");
        }
    }
}

void Findings::CommandPath(const std::string& path, int line, const std::string& key,
                           const std::string& command) {
    std::string program = CommandProgram(command);
    if (program.empty()) {
        return;
    }
    PathWalk walk = Locate(program, "runs");
    std::string notAFile = NotAFile(walk);
    const char* why = walk.result == PathWalk::kLoop    ? "is a link loop"
                      : walk.result != PathWalk::kFound ? "does not exist"
                      : !notAFile.empty()               ? notAFile.c_str()
                      : (walk.info.st_mode & 0111) == 0 ? "is not executable"
                                                        : nullptr;
    if (why != nullptr) {
        Warning(path, line, Said("%s %s %s", key.c_str(), Shown(program).c_str(), why));
    }
}

int Findings::Finish() {
    // qsort over the findings' places, with their order of finding as the last key, keeps
    // the sort stable without the code a templated stable sort would add to the tool.
    std::vector<const Finding*> order;
    for (const Finding& finding : findings_) {
        order.push_back(&finding);
    }
    auto compare = [](const void* a, const void* b) {
        const Finding& x = **static_cast<const Finding* const*>(a);
        const Finding& y = **static_cast<const Finding* const*>(b);
        int byFile = x.file.compare(y.file);
        return byFile != 0        ? byFile
               : x.line != y.line ? (x.line < y.line ? -1 : 1)
                                  : (&x < &y ? -1 : &x > &y);
    };
    if (!order.empty()) {  // an empty vector's data() may be null, which qsort must not get
        qsort(order.data(), order.size(), sizeof(const Finding*), compare);
    }
    int errors = 0;
    for (const Finding* finding : order) {
        errors += finding->level[0] == 'e';
    }
    if (!quiet_ && json_) {
        const char* separator = "\n";
        fputs("[", stdout);
        for (const Finding* finding : order) {
            printf("%s{\"file\":%s,\"line\":%d,\"level\":\"%s\",\"text\":%s}", separator,
                   JsonString(finding->file).c_str(), finding->line, finding->level,
                   JsonString(finding->text).c_str());
            separator = ",\n";
        }
        fputs(findings_.empty() ? "]\n" : "\n]\n", stdout);
    } else if (!quiet_) {
        for (const Finding* finding : order) {
            if (finding->line > 0) {
                printf("%s:%d: %s: %s\n", finding->file.c_str(), finding->line, finding->level,
                       finding->text.c_str());
            } else {
                printf("%s: %s: %s\n", finding->file.c_str(), finding->level,
                       finding->text.c_str());
            }
        }
    }
    return errors > 0 ? 2 : findings_.empty() ? 0 : 1;
}

int RunCheck(const Arguments& args) {
    std::string root = "/";
    bool quiet = false;
    bool json = false;
    bool ownerAny = false;
    for (size_t at = 0; at < args.size(); ++at) {
        if (args[at] == "--root") {
            if (at + 1 == args.size()) {
                fprintf(stderr, "vigilerctl: check: --root needs a value\n");
                return kExitUsage;
            }
            root = args[++at];
        } else if (args[at] == "--quiet") {
            quiet = true;
        } else if (args[at] == "--json") {
            json = true;
        } else if (args[at] == "--owner-any") {
            ownerAny = true;
        } else {
            fprintf(stderr, "vigilerctl: check: unknown argument '%s'\n", args[at].c_str());
            return kExitUsage;
        }
    }
    Findings findings(root, quiet, json, ownerAny);
    struct stat info;
    int error = stat(root.c_str(), &info) != 0 ? errno : S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (error != 0) {
        findings.Error(root, 0, std::string("cannot be checked (") + strerror(error) + ")");
        return findings.Finish();
    }
    int statusLimit = CheckSettings(findings);
    bool enabled[kSentinelId] = {};
    CheckRcConf(findings, enabled);
    bool wanKnown = CheckInterfaces(findings);
    ServiceSummary services = CheckServiceFiles(findings, enabled, wanKnown, statusLimit);
    CheckArchiver(findings, services.canFail);
    CheckStallLimit(findings, std::max(statusLimit, services.longestTimeout));
    return findings.Finish();
}

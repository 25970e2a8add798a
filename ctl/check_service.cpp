// vigilerctl check, the service files: each one read with the daemon's own sectioned-file
// reader, list grammar and dependency forms, and judged by the rules of its reader.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <set>
#include <string>

#include "config/return_lists.h"
#include "config/service_table.h"
#include "config/settings_reader.h"
#include "ctl/check.h"
#include "monitor/dependency.h"
#include "platform/config_file.h"

namespace {

const char* const kBasicKeys[] = {"SCRIPT",         "DEPENDS_ON", "GOOD_RET",
                                  "BAD_RET",        "MAX_FAIL",   "FAILS_FOR_ESCALATION",
                                  "ESCALATION_CMD", "TIMEOUT",    nullptr};
const char* const kBasicNumbers[] = {"MAX_FAIL", "FAILS_FOR_ESCALATION", "TIMEOUT"};
const char* const kFailCmdKeys[] = {"FAIL_CMD", "FAIL_CMD_GOOD_RETURN", nullptr};
constexpr int32_t kTimedOut = 124;  // the result of a command ended by its time limit

bool Absent(const std::string& entry) {
    return entry == ConfigBuffer::ENTRY_NOT_FOUND;
}
bool Absent(int32_t value) {
    return value == ConfigBuffer::VALUE_NOT_FOUND;
}

class ServiceCheck {
  public:
    ServiceCheck(Findings& findings, const DaemonConfig& row, bool wanKnown, int statusLimit)
        : findings_(findings),
          row_(row),
          path_(findings.Under(row.configFile)),
          wanKnown_(wanKnown),
          statusLimit_(statusLimit) {}

    bool enabled = false;

    // True when the service can fail: a BAD_RET value has its fail command.
    bool Run(const MultiSectionConfigFile& file) {
        for (const auto& repeated : file.Repeated()) {
            findings_.Warning(path_, repeated.second,
                              Said("[%s] is given again: both read as one section, and a key in "
                                   "both takes its later value",
                                   Shown(repeated.first).c_str()));
        }
        for (const auto& section : file.Sections()) {
            findings_.Repeats(path_, section.second);
        }
        auto basic = file.Sections().find("basic");
        if (basic == file.Sections().end()) {
            Disabled(0, "has no [basic] section");
            return false;
        }
        const ConfigBuffer& entries = basic->second;
        for (const char* key : kBasicNumbers) {
            findings_.NumberReadsAbsent(path_, entries, key);
        }
        findings_.UnknownKeys(path_, entries, kBasicKeys);
        Script(entries);
        Dependency(entries);
        Lists(entries, file);
        Counts(entries);
        OtherSections(file);
        return canFail_;
    }

    void Disabled(int line, const std::string& why) {
        findings_.Error(path_, line, Said("%s: %s is not monitored", why.c_str(), row_.name));
    }

  private:
    void Script(const ConfigBuffer& entries) {
        std::string script = entries.GetEntry("SCRIPT");
        int line = entries.LineOf("SCRIPT");
        if (Absent(script)) {
            Disabled(0, "SCRIPT is missing");
            return;
        }
        if (script.empty()) {
            Disabled(line, "SCRIPT is empty");
            return;
        }
        PathWalk walk = findings_.Locate(script, "runs");
        std::string shown = Shown(script);
        std::string notAFile = Findings::NotAFile(walk);
        if (walk.result != PathWalk::kFound) {
            bool loop = walk.result == PathWalk::kLoop;
            Disabled(line, Said("SCRIPT %s %s", shown.c_str(),
                                loop ? "is a link loop" : "does not exist"));
        } else if (!notAFile.empty() || (walk.info.st_mode & 0111) == 0) {
            findings_.Warning(path_, line,
                              Said("SCRIPT %s %s: every check fails", shown.c_str(),
                                   notAFile.empty() ? "is not executable" : notAFile.c_str()));
        }
    }

    void Dependency(const ConfigBuffer& entries) {
        std::string dependsOn = entries.GetEntry("DEPENDS_ON");
        if (Absent(dependsOn)) {
            return;
        }
        int line = entries.LineOf("DEPENDS_ON");
        std::string key;
        std::string value;
        switch (FormOfDependency(dependsOn.c_str())) {
            case DependencyForm::kUnknown:
                findings_.Warning(path_, line,
                                  "unknown DEPENDS_ON form '" + Shown(dependsOn) +
                                      "' (wanlink, wlanlink or variable KEY VALUE): " + row_.name +
                                      " is never checked");
                break;
            case DependencyForm::kVariable:
                if (!SplitVariableDependency(dependsOn.c_str(), key, value)) {
                    findings_.Warning(path_, line,
                                      "DEPENDS_ON '" + Shown(dependsOn) +
                                          "' is not 'variable KEY VALUE' (each at most 49 "
                                          "characters): it never holds");
                }
                break;
            default:
                if (!wanKnown_) {
                    findings_.Warning(path_, line,
                                      "DEPENDS_ON " + Shown(dependsOn) +
                                          " never holds: the interface state file names no "
                                          "VIRT_WAN");
                }
                break;
        }
    }

    // A list reads only up to its last comma.
    void ListTailUnread(const ConfigBuffer& entries, const char* key) {
        std::string text = entries.GetEntry(key);
        std::string tail = Shown(ListTail(text));
        if (!Absent(text) && tail.find_first_not_of(" \t") != std::string::npos) {
            findings_.Warning(path_, entries.LineOf(key),
                              std::string(key) + ": '" + tail +
                                  "' has no comma after it and is not read (write '" + tail +
                                  ",')");
        }
    }

    void Lists(const ConfigBuffer& entries, const MultiSectionConfigFile& file) {
        std::string goodRet = entries.GetEntry("GOOD_RET");
        if (Absent(goodRet)) {
            Disabled(0, "GOOD_RET is missing");
        } else {
            ListTailUnread(entries, "GOOD_RET");
            if (ListTokens(goodRet).empty() &&
                ListTail(goodRet).find_first_not_of(" \t") == std::string::npos) {
                findings_.Warning(path_, entries.LineOf("GOOD_RET"),
                                  "GOOD_RET holds no value: every status counts as a failure");
            }
        }

        std::string badRet = entries.GetEntry("BAD_RET");
        if (Absent(badRet)) {
            return;
        }
        int line = entries.LineOf("BAD_RET");
        ListTailUnread(entries, "BAD_RET");
        for (const std::string& token : ListTokens(badRet)) {
            if (token.size() > kMaxFailTokenLength) {
                findings_.Warning(path_, line, "a BAD_RET value is too long and is ignored");
                continue;
            }
            std::string name = "failcmd" + token;
            named_.insert(name);
            auto section = file.Sections().find(name);
            if (section == file.Sections().end()) {
                findings_.Warning(path_, line,
                                  Said("BAD_RET value %s has no [%s] section and is left out",
                                       Shown(token).c_str(), Shown(name).c_str()));
                continue;
            }
            const ConfigBuffer& failCmd = section->second;
            std::string command = failCmd.GetEntry("FAIL_CMD");
            if (Absent(command)) {
                findings_.Warning(path_, line,
                                  Said("[%s] has no FAIL_CMD: BAD_RET value %s is left out",
                                       Shown(name).c_str(), Shown(token).c_str()));
                continue;
            }
            canFail_ = true;
            timeoutNamed_ = timeoutNamed_ || TokenNumber(token) == kTimedOut;
            if (command.find_first_not_of(" \t") == std::string::npos) {
                findings_.Warning(path_, failCmd.LineOf("FAIL_CMD"),
                                  Said("[%s] FAIL_CMD is empty: it succeeds without doing "
                                       "anything and clears the count",
                                       Shown(name).c_str()));
            }
            findings_.CommandPath(path_, failCmd.LineOf("FAIL_CMD"), "FAIL_CMD", command);
        }
    }

    // A status run past its time limit returns 124; without a fail command for it, a hung
    // script is an unknown value on every pass and never repaired.
    void TimeLimit(const ConfigBuffer& entries) {
        int32_t own = entries.GetValue("TIMEOUT");
        bool ownLimit = !Absent(own) && own > 0;
        if ((!ownLimit && statusLimit_ == 0) || timeoutNamed_ || !enabled) {
            return;
        }
        findings_.Warning(
            path_, entries.LineOf(ownLimit ? "TIMEOUT" : "BAD_RET"),
            Said("%s=%d is in force but BAD_RET does not name 124: a hung script "
                 "is logged as an unknown value on every pass and never repaired",
                 ownLimit ? "TIMEOUT" : "STATUS_TIMEOUT", ownLimit ? own : statusLimit_));
    }

    void Counts(const ConfigBuffer& entries) {
        int32_t maxFail = entries.GetValue("MAX_FAIL");
        if (Absent(maxFail)) {
            Disabled(entries.LineOf("MAX_FAIL"), "MAX_FAIL is missing or not a number");
        }
        int32_t escalation = entries.GetValue("FAILS_FOR_ESCALATION");
        bool escalates = !Absent(escalation) && escalation != -1;
        std::string command = entries.GetEntry("ESCALATION_CMD");
        if (escalates && Absent(command)) {
            findings_.Warning(path_, entries.LineOf("FAILS_FOR_ESCALATION"),
                              "FAILS_FOR_ESCALATION without ESCALATION_CMD: never escalates");
        }
        if (escalates && !Absent(command) && !Absent(maxFail) && escalation <= maxFail) {
            findings_.Warning(path_, entries.LineOf("FAILS_FOR_ESCALATION"),
                              "FAILS_FOR_ESCALATION=" + std::to_string(escalation) +
                                  " is at or below MAX_FAIL=" + std::to_string(maxFail) +
                                  ": the fail command never runs");
        }
        if (!Absent(command)) {
            findings_.CommandPath(path_, entries.LineOf("ESCALATION_CMD"), "ESCALATION_CMD",
                                  command);
            if (command != "reboot" && LooksLikeReboot(command)) {
                findings_.Warning(path_, entries.LineOf("ESCALATION_CMD"),
                                  Said("ESCALATION_CMD '%s' is not exactly \"reboot\": it runs "
                                       "without the voice lock and without the alert",
                                       Shown(command).c_str()));
            }
        }
        TimeLimit(entries);
    }

    static bool LooksLikeReboot(const std::string& command) {
        size_t begin = command.find_first_not_of(" \t");
        if (begin == std::string::npos) {
            return false;
        }
        std::string word = command.substr(begin, command.find_first_of(" \t", begin) - begin);
        word = word.substr(word.rfind('/') == std::string::npos ? 0 : word.rfind('/') + 1);
        for (char& c : word) {
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        }
        return word == "reboot";
    }

    void OtherSections(const MultiSectionConfigFile& file) {
        for (const auto& section : file.Sections()) {
            const std::string& name = section.first;
            if (name == "basic") {
                continue;
            }
            if (name.compare(0, 7, "failcmd") != 0) {
                findings_.Warning(path_, 0, Said("unknown section [%s]", Shown(name).c_str()));
                continue;
            }
            findings_.UnknownKeys(path_, section.second, kFailCmdKeys);
            findings_.NumberReadsAbsent(path_, section.second, "FAIL_CMD_GOOD_RETURN");
            if (named_.count(name) == 0) {
                findings_.Warning(
                    path_, 0,
                    Said("[%s] is named by no BAD_RET value and never used", Shown(name).c_str()));
            }
        }
    }

    Findings& findings_;
    const DaemonConfig& row_;
    std::string path_;
    bool wanKnown_;
    int statusLimit_;
    bool canFail_ = false;
    bool timeoutNamed_ = false;
    std::set<std::string> named_;
};

// A file in the service directory that no service row names is never read.
void StrayFiles(Findings& findings) {
    PathWalk dir = WalkPath(findings.Under("/"), "/etc/vigilerd");
    DIR* stream = dir.result == PathWalk::kFound ? opendir(dir.hostPath.c_str()) : nullptr;
    if (stream == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(stream)) {
        std::string name = entry->d_name;
        struct stat info;
        std::string host = dir.hostPath + "/" + name;
        if (lstat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
            continue;  // scripts and the like may live in a directory of their own
        }
        bool known = false;
        for (int index = 0; index < kSentinelId && !known; ++index) {
            known = name == daemonConfigs[index].name;
        }
        if (!known) {
            findings.Warning(findings.Under("/etc/vigilerd/" + name), 0,
                             "names no service and is never read");
        }
    }
    closedir(stream);
}

}  // namespace

ServiceSummary CheckServiceFiles(Findings& findings, const bool enabled[], bool wanKnown,
                                 int statusLimit) {
    ServiceSummary summary;
    for (int index = 0; index < kSentinelId; ++index) {
        const DaemonConfig& row = daemonConfigs[index];
        // The daemon reads every file, but only a missing one of a service that runs matters.
        std::string host =
            findings.FileToRead(row.configFile, enabled[index], true,
                                std::string(row.name) + " is not monitored", "reads");
        if (host.empty()) {
            continue;
        }
        ServiceCheck check(findings, row, wanKnown, statusLimit);
        check.enabled = enabled[index];
        try {
            MultiSectionConfigFile file(host, false, true, false);
            summary.canFail = (check.Run(file) && enabled[index]) || summary.canFail;
            if (enabled[index] && file.GotoSection("basic") != 0) {
                summary.longestTimeout = std::max(summary.longestTimeout,
                                                  PositiveOrZero(file.GetSectionValue("TIMEOUT")));
            }
        } catch (const std::exception& error) {
            check.Disabled(0, std::string("cannot be read (") + error.what() + ")");
        }
    }
    StrayFiles(findings);
    return summary;
}

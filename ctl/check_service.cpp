// vigilerctl check, the service files: each one read with the daemon's own sectioned-file
// reader, list grammar and dependency forms, and judged by the rules of its reader.
#include <sys/stat.h>

#include <exception>
#include <set>
#include <string>

#include "config/return_lists.h"
#include "config/service_table.h"
#include "ctl/check.h"
#include "monitor/dependency.h"
#include "platform/config_file.h"

namespace {

const char* const kBasicKeys[] = {"SCRIPT",         "DEPENDS_ON", "GOOD_RET",
                                  "BAD_RET",        "MAX_FAIL",   "FAILS_FOR_ESCALATION",
                                  "ESCALATION_CMD", "TIMEOUT",    nullptr};
const char* const kBasicNumbers[] = {"MAX_FAIL", "FAILS_FOR_ESCALATION", "TIMEOUT"};
const char* const kFailCmdKeys[] = {"FAIL_CMD", "FAIL_CMD_GOOD_RETURN", nullptr};

bool Absent(const std::string& entry) {
    return entry == ConfigBuffer::ENTRY_NOT_FOUND;
}
bool Absent(int32_t value) {
    return value == ConfigBuffer::VALUE_NOT_FOUND;
}

class ServiceCheck {
  public:
    ServiceCheck(Findings& findings, const DaemonConfig& row, bool wanKnown)
        : findings_(findings),
          row_(row),
          path_(findings.Under(row.configFile)),
          wanKnown_(wanKnown) {}

    void Run(const MultiSectionConfigFile& file) {
        auto basic = file.Sections().find("basic");
        if (basic == file.Sections().end()) {
            Disabled(0, "has no [basic] section");
            return;
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
    }

    void Disabled(int line, const std::string& why) {
        findings_.Error(path_, line, why + ": " + row_.name + " is not monitored");
    }

  private:
    void Script(const ConfigBuffer& entries) {
        std::string script = entries.GetEntry("SCRIPT");
        int line = entries.LineOf("SCRIPT");
        struct stat info;
        if (Absent(script)) {
            Disabled(0, "SCRIPT is missing");
        } else if (stat(findings_.Under(script).c_str(), &info) != 0) {
            Disabled(line, "SCRIPT " + script + " does not exist");
        } else if (!S_ISREG(info.st_mode) || (info.st_mode & 0111) == 0) {
            findings_.Warning(path_, line,
                              "SCRIPT " + script + " is not executable: every check fails");
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
                                  "unknown DEPENDS_ON form '" + dependsOn +
                                      "' (wanlink, wlanlink or variable KEY VALUE): " + row_.name +
                                      " is never checked");
                break;
            case DependencyForm::kVariable:
                if (!SplitVariableDependency(dependsOn.c_str(), key, value)) {
                    findings_.Warning(path_, line,
                                      "DEPENDS_ON '" + dependsOn +
                                          "' is not 'variable KEY VALUE' (each at most 49 "
                                          "characters): it never holds");
                }
                break;
            default:
                if (!wanKnown_) {
                    findings_.Warning(path_, line,
                                      "DEPENDS_ON " + dependsOn +
                                          " never holds: the interface state file names no "
                                          "VIRT_WAN");
                }
                break;
        }
    }

    // A list reads only up to its last comma.
    void ListTailUnread(const ConfigBuffer& entries, const char* key) {
        std::string text = entries.GetEntry(key);
        std::string tail = ListTail(text);
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
                findings_.Warning(
                    path_, line,
                    "BAD_RET value " + token + " has no [" + name + "] section and is left out");
                continue;
            }
            const ConfigBuffer& failCmd = section->second;
            std::string command = failCmd.GetEntry("FAIL_CMD");
            if (Absent(command)) {
                findings_.Warning(
                    path_, line,
                    "[" + name + "] has no FAIL_CMD: BAD_RET value " + token + " is left out");
            } else {
                findings_.CommandPath(path_, failCmd.LineOf("FAIL_CMD"), "FAIL_CMD", command);
            }
        }
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
        }
    }

    void OtherSections(const MultiSectionConfigFile& file) {
        for (const auto& section : file.Sections()) {
            const std::string& name = section.first;
            if (name == "basic") {
                continue;
            }
            if (name.compare(0, 7, "failcmd") != 0) {
                findings_.Warning(path_, 0, "unknown section [" + name + "]");
                continue;
            }
            findings_.UnknownKeys(path_, section.second, kFailCmdKeys);
            findings_.NumberReadsAbsent(path_, section.second, "FAIL_CMD_GOOD_RETURN");
            if (named_.count(name) == 0) {
                findings_.Warning(path_, 0,
                                  "[" + name + "] is named by no BAD_RET value and never used");
            }
        }
    }

    Findings& findings_;
    const DaemonConfig& row_;
    std::string path_;
    bool wanKnown_;
    std::set<std::string> named_;
};

}  // namespace

void CheckServiceFiles(Findings& findings, const bool enabled[], bool wanKnown) {
    for (int index = 0; index < kSentinelId; ++index) {
        const DaemonConfig& row = daemonConfigs[index];
        std::string path = findings.Under(row.configFile);
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            // The daemon reads every file, but only a service that runs needs one.
            if (enabled[index]) {
                findings.Warning(
                    path, 0,
                    std::string(row.name) + " is switched on in rc.conf but has no service file");
            }
            continue;
        }
        ServiceCheck check(findings, row, wanKnown);
        try {
            MultiSectionConfigFile file(path, false, true, false);
            check.Run(file);
        } catch (const std::exception& error) {
            check.Disabled(0, std::string("cannot be read (") + error.what() + ")");
        }
    }
}

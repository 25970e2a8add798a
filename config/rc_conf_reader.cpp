// Service enablement from the box's rc.conf, and the WAN interface name from the
// interface state file. Owns vigilerd's run switch updates and the WAN name.
#include "config/rc_conf_reader.h"

#include <exception>
#include <mutex>
#include <optional>

#include "config/service_table.h"
#include "core/daemon.h"
#include "core/log.h"
#include "platform/config_file.h"

namespace {

// Passes come from start-up, the signal thread (end of hibernation) and the wait thread;
// two of them must never interleave their row updates or their log lines.
std::mutex passMutex;

// The WAN interface name; empty optional when none is known. Dependency checks read it from
// the check thread while a pass replaces it, so every access holds wanMutex and readers
// take a copy.
std::mutex wanMutex;
std::optional<std::string> wanInterface;

bool IsTrue(const std::string& value) {
    return value == "true";
}

void RefreshWanInterface() {
    std::optional<std::string> name;
    try {
        ConfigFile interfaces(kInterfacesPath, false, false);
        interfaces.ReadFile();
        std::string value = interfaces.Buffer().GetEntry("VIRT_WAN");
        if (value != ConfigBuffer::ENTRY_NOT_FOUND) {
            name = std::move(value);  // an empty value is a known, empty name
        }
    } catch (const std::exception&) {
        Report("Error: failed to open /var/run/interfaces\n");
        name.reset();
    }
    std::lock_guard<std::mutex> lock(wanMutex);
    wanInterface = std::move(name);
}

// Sets each row's enabled flag from its rc.conf key, clearing the count of every row that is
// switched off, and logs the rows that rc.conf switches off by name.
void ApplyRowKeys(const ConfigBuffer& rcConf) {
    Report("Info: (Re)reading rc.conf.\n");
    std::string disabled;
    for (DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        std::string value = rcConf.GetEntry(row->rcConfKey);
        if (value == ConfigBuffer::ENTRY_NOT_FOUND) {
            // A service the box does not know at all is off without being named.
            row->enabled = 0;
            row->currentFails = 0;
        } else if (IsTrue(value)) {
            row->enabled = 1;  // a row that stays on keeps its count
        } else {
            row->enabled = 0;
            row->currentFails = 0;
            if (!disabled.empty()) {
                disabled += ", ";
            }
            disabled += row->name;
        }
    }
    if (!disabled.empty()) {
        disabled += " not monitored. Disabled by rc.conf.";
        Report("%s\n", disabled.c_str());
    }
}

}  // namespace

bool ReadRCConf() {
    std::lock_guard<std::mutex> pass(passMutex);

    ConfigFile rcConf(kRcConfPath, false, false);
    bool opened = true;
    try {
        rcConf.ReadFile();  // the one read of this pass, before its first lookup
    } catch (const std::exception&) {
        // Without the file nothing can be decided: the rows keep what the last pass gave
        // them, and the daemon does not start monitoring when this is its first pass.
        Report("Error: failed to open /etc/sysconfig/rc.conf\n");
        vigilerd_RC_Conf_Run = 0;
        opened = false;
    }

    if (opened) {
        std::string run = rcConf.Buffer().GetEntry("START_VIGILERD");
        if (run == ConfigBuffer::ENTRY_NOT_FOUND) {
            Report("Error: Error: Entry %s not found rc.conf file.\n", "START_VIGILERD");
            vigilerd_RC_Conf_Run = 0;
        } else {
            vigilerd_RC_Conf_Run = IsTrue(run) ? 1 : 0;
        }
        if (vigilerd_RC_Conf_Run != 0) {
            ApplyRowKeys(rcConf.Buffer());
        }
    }

    // The WAN name follows the interface state file on every pass, whatever rc.conf said.
    RefreshWanInterface();
    return opened;
}

bool WanInterfaceName(std::string& name) {
    std::lock_guard<std::mutex> lock(wanMutex);
    if (!wanInterface.has_value()) {
        return false;
    }
    name = *wanInterface;
    return true;
}

void ResetWanInterface() {
    std::lock_guard<std::mutex> lock(wanMutex);
    wanInterface.reset();
}

// The start-up warning for each file the daemon will run or read as root that someone
// other than root could change.
#include "core/unsafe_files.h"

#include <algorithm>
#include <string>
#include <vector>

#include "config/rc_conf_reader.h"
#include "config/service_table.h"
#include "config/settings_reader.h"
#include "core/log.h"
#include "monitor/log_archive.h"
#include "platform/path_safety.h"

namespace {

// A file that is missing is not this warning's business: the readers and the runs say so.
void Warn(std::vector<std::string>& warned, const std::string& path) {
    if (path.empty() || std::find(warned.begin(), warned.end(), path) != warned.end()) {
        return;
    }
    warned.push_back(path);
    PathWalk walk = WalkPath("/", path);
    if (walk.result == PathWalk::kFound && !walk.unsafe.empty()) {
        Report("Warning: %s is writable by others, and vigilerd runs it as root\n", path.c_str());
    }
}

}  // namespace

void WarnUnsafeFiles() {
    std::vector<std::string> warned;
    Warn(warned, kSettingsPath);
    Warn(warned, kRcConfPath);
    for (const DaemonConfig* row = daemonConfigs; row->id != kSentinelId; ++row) {
        Warn(warned, row->configFile);
        if (!row->script.has_value()) {
            continue;
        }
        if (!row->script->empty() && (*row->script)[0] == '/') {
            Warn(warned, *row->script);  // the path as the reader found it, blanks and all
        }
        for (const FailCmdStructure* node = row->failCommands; node != nullptr; node = node->next) {
            if (node->failCmd.has_value()) {
                Warn(warned, CommandProgram(*node->failCmd));
            }
        }
        if (row->escalationCmd.has_value()) {
            Warn(warned, CommandProgram(*row->escalationCmd));
        }
    }
    Warn(warned, kArchiverPath);
}

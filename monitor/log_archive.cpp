// Archiving of the box's important logs by the outside archiver before every reaction.
// Owns the two framing log lines and the run of the archiver.
#include "monitor/log_archive.h"

#include <string>

#include "config/settings_reader.h"
#include "core/log.h"
#include "monitor/limited_command.h"
#include "platform/system.h"

void LogTheBoardState() {
    Report("OK, let's try to archive some important logs first...\n");
    // The archiver's result tells the daemon nothing it could act on: the reaction goes on
    // whether it worked or not.
    std::string output;
    RunLimited(kArchiverPath, output, commandTimeout);
    Report("Done.\n");
}

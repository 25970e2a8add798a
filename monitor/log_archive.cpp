// Archiving of the box's important logs by the outside archiver before every reaction.
// Owns the two framing log lines and the run of the archiver.
#include "monitor/log_archive.h"

#include <string>

#include "core/log.h"
#include "platform/system.h"

void LogTheBoardState() {
    Report("OK, let's try to archive some important logs first...\n");
    // The archiver's result tells the daemon nothing it could act on: the reaction goes on
    // whether it worked or not.
    std::string output;
    System(kArchiverPath, output);
    Report("Done.\n");
}

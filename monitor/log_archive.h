// Archiving of the box's important logs by the outside archiver before every reaction.
#pragma once

constexpr const char* kArchiverPath = "/bin/mainlogszipperforvigiler";

void LogTheBoardState();

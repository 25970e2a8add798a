// Finding a path as the box will find it, and whether someone other than root could change
// what the daemon runs or reads there. Shared by the daemon's start-up and vigilerctl check.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

struct PathWalk {
    enum Result { kFound, kMissing, kLoop };
    Result result = kMissing;
    int error = 0;          // errno of the look-up that failed, for kMissing
    std::string hostPath;   // the file itself, every link resolved, under the root
    std::string boxPath;    // the same as the box names it
    struct stat info = {};  // of the file, when found
    bool leftTree = false;  // a relative link climbed above the root; the box stays at "/"
    // The box paths of the root, each directory walked through and the file itself that
    // anyone but root could change, each with why.
    std::vector<std::pair<std::string, std::string>> unsafe;
};

// Walks the absolute `path` component by component under `root` ("/" for the running system)
// as the box's kernel would: a link's absolute target starts again at `root`, ".." never
// climbs above it, more than 40 links make a loop. With `checkOwner` false, only the mode
// bits count as unsafe (an unpacked tree need not belong to root).
PathWalk WalkPath(const std::string& root, const std::string& path, bool checkOwner = true);

// Why this file or directory lets someone other than root change it ("" when nothing does):
// writable by its group or by others, or not owned by uid 0.
std::string UnsafeBecause(const struct stat& info, bool checkOwner = true);

// The first word of a command when it is an absolute path, else "".
std::string CommandProgram(const std::string& command);

// What vigilerctl check shares between its parts: the tree being checked and its findings.
// Owns the finding line and JSON formats, their order and the exit status they add up to.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/path_safety.h"

class ConfigBuffer;

// A value from a file as a finding shows it: cut after 200 bytes with "…".
std::string Shown(const std::string& value);
// A finding's text, printf-style: one call where a chain of string additions would put its
// allocations inline at every place a finding is made.
std::string Said(const char* format, ...) __attribute__((format(printf, 1, 2)));

class Findings {
  public:
    Findings(std::string root, bool quiet, bool json, bool ownerAny)
        : root_(std::move(root)), quiet_(quiet), json_(json), ownerAny_(ownerAny) {}

    // `path` is the daemon's own path; findings name the file under the checked root.
    std::string Under(const std::string& path) const;
    void Error(const std::string& path, int line, const std::string& text);
    void Warning(const std::string& path, int line, const std::string& text);

    // Finds the daemon's `path` in the tree as the box would, warns for a link that leaves
    // the tree, and, when the file is there, gives an error for each part of its way that
    // someone other than root could change (`use` says what the daemon does with it: "runs"
    // or "reads").
    PathWalk Locate(const std::string& path, const char* use);
    // Why a located file cannot be read or run ("" when it is a regular file).
    static std::string NotAFile(const PathWalk& walk);
    // Locates a file the daemon reads (as Locate with `use`), reports what keeps it from
    // being read as an error (`error`) or warning ending in `consequence`, and a byte-order
    // mark; the path to read it at, or "" when it must not be read. A missing file is
    // reported only when `needed`.
    std::string FileToRead(const std::string& path, bool needed, bool error,
                           const std::string& consequence, const char* use);
    // Warns for each key given twice in `entries`.
    void Repeats(const std::string& path, const ConfigBuffer& entries);

    // A present value that is not a number reads as absent; warns and says so.
    bool NumberReadsAbsent(const std::string& path, const ConfigBuffer& entries,
                           const std::string& key);
    // Warns for every key of `entries` that is not in the null-ended `known` list.
    void UnknownKeys(const std::string& path, const ConfigBuffer& entries,
                     const char* const* known);
    // Warns when the first word of a command is an absolute path that is missing or not
    // executable under the root; errors when others could change it.
    void CommandPath(const std::string& path, int line, const std::string& key,
                     const std::string& command);

    // Prints the findings sorted by file and line; returns 0 clean, 1 warnings, 2 errors.
    int Finish();

  private:
    struct Finding {
        std::string file;
        int line;
        const char* level;
        std::string text;
    };
    void Add(const std::string& path, int line, const char* level, const std::string& text);

    std::string root_;
    bool quiet_;
    bool json_;
    bool ownerAny_;
    std::vector<Finding> findings_;
    std::set<std::string> unsafe_;  // box paths already reported
    std::set<std::string> left_;
};

struct ServiceSummary {
    bool canFail = false;    // an enabled service has a fail command: failures get counted
    int longestTimeout = 0;  // the longest TIMEOUT of an enabled service, 0 when none has one
};

// Checks the service files under /etc/vigilerd against the enabled flag of each service row
// (as rc.conf gave it; every row off without rc.conf) and the status time limit in force.
ServiceSummary CheckServiceFiles(Findings& findings, const bool enabled[], bool wanKnown,
                                 int statusTimeout);

// What vigilerctl check shares between its parts: the tree being checked and its findings.
// Owns the finding line format and the exit status they add up to.
#pragma once

#include <string>

class ConfigBuffer;

class Findings {
  public:
    Findings(std::string root, bool quiet) : root_(std::move(root)), quiet_(quiet) {}

    // `path` is the daemon's own path; findings name the file under the checked root.
    std::string Under(const std::string& path) const;
    void Error(const std::string& path, int line, const std::string& text);
    void Warning(const std::string& path, int line, const std::string& text);

    // A present value that is not a number reads as absent; warns and says so.
    bool NumberReadsAbsent(const std::string& path, const ConfigBuffer& entries,
                           const std::string& key);
    // Warns for every key of `entries` that is not in the null-ended `known` list.
    void UnknownKeys(const std::string& path, const ConfigBuffer& entries,
                     const char* const* known);
    // Warns when the first word of a command is an absolute path that is missing or not
    // executable under the root.
    void CommandPath(const std::string& path, int line, const std::string& key,
                     const std::string& command);

    int ExitStatus() const { return errors_ > 0 ? 2 : warnings_ > 0 ? 1 : 0; }

  private:
    void Print(const std::string& path, int line, const char* kind, const std::string& text);

    std::string root_;
    bool quiet_;
    int errors_ = 0;
    int warnings_ = 0;
};

// The enabled flag of each service row, as rc.conf gave it (every row off without rc.conf).
void CheckServiceFiles(Findings& findings, const bool enabled[], bool wanKnown);

// Helpers shared by the unit tests: files at the daemon's fixed paths, a captured log,
// and a daemon state put back to its start values.
#pragma once

#include <string>
#include <vector>

namespace test {

void WriteFile(const std::string& path, const std::string& content, int mode = 0644);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void RemovePath(const std::string& path);  // file or directory tree; missing is fine
int Shell(const std::string& command);     // /bin/sh -c, returns the exit code

// Points the daemon's log at a fresh file for the life of the object.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    // Every line as written, prefix included.
    std::vector<std::string> RawLines() const;
    // The messages: each line with its "<time> [<pid>] " prefix removed, newline kept.
    std::vector<std::string> Messages() const;
    // All messages joined, for matching with HasSubstr.
    std::string Text() const;

  private:
    std::string path_;
};

// Flags, table, limits and WAN name back to their values at process start.
void ResetDaemonState();

}  // namespace test

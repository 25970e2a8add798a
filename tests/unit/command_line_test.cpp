// A plain command line, started without a shell, must do what the shell would have done:
// each line runs through System and through "/bin/sh -c" and both must agree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/system.h"

namespace {

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    fputs(text.c_str(), file);
    fclose(file);
    chmod(path.c_str(), mode);
}

// The line through the shell itself, its output and errors together, as System gathers them.
int ThroughShell(const std::string& line, std::string& output) {
    FILE* pipe = popen(("exec /bin/sh -c '" + line + "' </dev/null 2>&1").c_str(), "r");
    char chunk[512];
    output.clear();
    for (size_t got; pipe != nullptr && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, got);
    }
    int status = pipe != nullptr ? pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CommandLine, PlainLinesRunDirectlyAndDoWhatTheShellDoes) {
    const std::string dir = "/run/unit-command-line";
    mkdir(dir.c_str(), 0755);
    WriteFile(dir + "/script", "#!/bin/sh\necho \"$0|$#|$*\"; echo err >&2; exit 3\n", 0755);
    WriteFile(dir + "/bare", "echo bare \"$1\"\nexit 7\n", 0755);  // no #!: ENOEXEC
    WriteFile(dir + "/closed", "#!/bin/sh\necho never\n", 0644);   // not executable
    WriteFile(dir + "/killed", "#!/bin/sh\necho going\nkill -TERM $$\n", 0755);
    // Plain lines (started directly), then lines that keep the shell.
    const std::vector<std::string> kLines[2] = {
        {"/bin/echo a-b c.d e_f g+h i=j k:l m,n o@p q%r /s/", dir + "/script status",
         dir + "/script two words", dir + "/bare x", dir + "/closed", dir + "/killed",
         dir + "/missing status", dir, "/bin/false"},
        {"/bin/echo  two  spaces", "/bin/echo trailing ", "/bin/echo $0 ~ *",
         "/bin/echo a;/bin/echo b", "/bin/echo a >/dev/null", "/bin/echo done", "echo relative",
         ""}};
    for (bool plain : {true, false}) {
        for (const std::string& line : kLines[plain ? 0 : 1]) {
            SCOPED_TRACE("line: " + line);
            std::vector<std::string> argv;
            EXPECT_EQ(SplitPlainCommand(line, argv), plain);
            std::string direct, shell;
            int directStatus = System(line, direct);
            EXPECT_EQ(directStatus, ThroughShell(line, shell));
            // The one thing the shell adds: its notice about a child killed by a signal.
            const std::string notice = "Terminated\n";
            if (plain && shell.size() > notice.size() &&
                shell.compare(shell.size() - notice.size(), notice.size(), notice) == 0) {
                shell.erase(shell.size() - notice.size());
            }
            EXPECT_EQ(direct, shell);
        }
    }
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

}  // namespace

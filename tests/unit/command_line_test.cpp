// A plain command line, started without a shell, must do what the shell would have done:
// each line runs through System and through "/bin/sh -c" and both must agree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/system.h"
#include "test_support.h"

namespace {

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
    test::WriteFile(dir + "/script", "#!/bin/sh\necho \"$0|$#|$*\"; echo err >&2; exit 3\n", 0755);
    test::WriteFile(dir + "/bare", "echo bare \"$1\"\nexit 7\n", 0755);  // no #!: ENOEXEC
    test::WriteFile(dir + "/closed", "#!/bin/sh\necho never\n", 0644);   // not executable
    test::WriteFile(dir + "/killed", "#!/bin/sh\necho going\nkill -TERM $$\n", 0755);
    const struct {
        std::string line;
        bool plain;
    } kCases[] = {
        {"/bin/echo a-b c.d e_f g+h i=j k:l m,n o@p q%r /s/", true},
        {dir + "/script status", true},
        {dir + "/script two words", true},
        {dir + "/bare x", true},
        {dir + "/closed", true},
        {dir + "/killed", true},
        {dir + "/missing status", true},
        {dir, true},
        {"/bin/false", true},
        {"/bin/echo  two  spaces", false},
        {"/bin/echo trailing ", false},
        {"/bin/echo $0 ~ *", false},
        {"/bin/echo a;/bin/echo b", false},
        {"/bin/echo a >/dev/null", false},
        {"/bin/echo done", false},
        {"echo relative", false},
        {"", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE("line: " + c.line);
        std::vector<std::string> argv;
        EXPECT_EQ(SplitPlainCommand(c.line, argv), c.plain);
        std::string direct, shell;
        int directStatus = System(c.line, direct);
        int shellStatus = ThroughShell(c.line, shell);
        EXPECT_EQ(directStatus, shellStatus);
        // The one thing the shell adds: its notice about a child killed by a signal.
        if (c.plain && shell.size() > 11 &&
            shell.compare(shell.size() - 11, 11, "Terminated\n") == 0) {
            shell.erase(shell.size() - 11);
        }
        EXPECT_EQ(direct, shell);
    }
    test::RemovePath(dir);
}

}  // namespace

// Tells a plain command line, which needs no shell to run, from one that does.
// Owns the rule for "plain" and the split of such a line into its words.
#pragma once

#include <string>
#include <vector>

// True when `line` is plain: words of letters, digits and /._-+=:,@% only, separated by single
// spaces, no shell keyword among them, the first word an absolute path. Such a line means the
// same to the shell as its words do to execve, so it can be started without one; `argv` then
// holds the words. False (argv untouched) for any other line.
bool SplitPlainCommand(const std::string& line, std::vector<std::string>& argv);

// Tells a plain command line, which needs no shell to run, from one that does.
// Owns the rule for "plain" and the split of such a line into its words.
#include "platform/command_line.h"

#include <cstring>

namespace {

bool IsPlainCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("/._-+=:,@%", c) != nullptr);
}

// The shell's reserved words that the plain characters can spell. The first word is a path,
// so none can stand where the shell would take it as one; they are refused all the same.
bool IsKeyword(const std::string& word) {
    static const char* const kKeywords[] = {"if",   "then",     "else",   "elif",  "fi", "case",
                                            "esac", "for",      "while",  "until", "do", "done",
                                            "in",   "function", "select", "time"};
    for (const char* keyword : kKeywords) {
        if (word == keyword) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool SplitPlainCommand(const std::string& line, std::vector<std::string>& argv) {
    if (line.empty() || line[0] != '/') {
        return false;
    }
    std::vector<std::string> words(1);
    for (char c : line) {
        if (c == ' ') {
            if (words.back().empty()) {
                return false;  // two spaces in a row
            }
            words.emplace_back();
        } else if (IsPlainCharacter(c)) {
            words.back() += c;
        } else {
            return false;
        }
    }
    if (words.back().empty()) {
        return false;  // a trailing space
    }
    for (const std::string& word : words) {
        if (IsKeyword(word)) {
            return false;
        }
    }
    argv.swap(words);
    return true;
}

// The good-return and fail-command lists of one service, their parser and their lookups.
// Owns the list grammar ("value," tokens) and the reading of the failcmd sections.
#include "config/return_lists.h"

#include <climits>
#include <cstdlib>

#include "core/log.h"
#include "platform/config_file.h"

GoodCmdStructure* NewGoodCmdStructure(int value) {
    return new GoodCmdStructure{value, nullptr};
}

FailCmdStructure* NewFailCmdStructure(const char* cmd, long returnValue, int goodReturn) {
    auto* node =
        new FailCmdStructure{static_cast<int32_t>(returnValue), goodReturn, std::nullopt, nullptr};
    if (cmd != nullptr) {
        try {
            node->failCmd = std::string(cmd);
        } catch (...) {
            delete node;
            throw;
        }
    }
    return node;
}

// Both releases walk the list in a loop: a list of many thousand values must not cost one
// stack frame per node.
void DeleteFailCmdStructure(FailCmdStructure* first) {
    while (first != nullptr) {
        FailCmdStructure* next = first->next;
        delete first;  // the node's command text goes with it
        first = next;
    }
}

void DeleteGoodCmdStructure(GoodCmdStructure* first) {
    while (first != nullptr) {
        GoodCmdStructure* next = first->next;
        delete first;
        first = next;
    }
}

int32_t TokenNumber(const std::string& token) {
    // strtol skips leading white space, takes a sign and the digits up to the first other
    // character, and gives 0 without digits. Its long may be wider than the stored number,
    // so the result is clamped to the 32-bit bounds as a 32-bit long would be.
    long value = strtol(token.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// Only comma-terminated tokens count: whatever follows the last comma is never read.
std::vector<std::string> ListTokens(const std::string& text) {
    std::vector<std::string> tokens;
    size_t start = 0;
    size_t comma;
    while ((comma = text.find(',', start)) != std::string::npos) {
        tokens.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return tokens;
}

std::string ListTail(const std::string& text) {
    size_t comma = text.rfind(',');
    return comma == std::string::npos ? text : text.substr(comma + 1);
}

GoodCmdStructure* GetNumbers(std::string text) {
    GoodCmdStructure* first = nullptr;
    GoodCmdStructure** tail = &first;
    try {
        for (const std::string& token : ListTokens(text)) {
            *tail = NewGoodCmdStructure(TokenNumber(token));
            tail = &(*tail)->next;
        }
    } catch (...) {
        DeleteGoodCmdStructure(first);
        throw;
    }
    return first;
}

FailCmdStructure* GetNumbers(std::string text, const char* configFile,
                             MultiSectionConfigFile& file) {
    FailCmdStructure* first = nullptr;
    FailCmdStructure** tail = &first;
    try {
        for (const std::string& token : ListTokens(text)) {
            if (token.size() > kMaxFailTokenLength) {
                // Its section name would not fit the section bound; no such section can be
                // meant, so the value is left out rather than looked up under a cut name.
                Report("Error: Config file error (%s): BAD_RET entry too long, ignored\n",
                       configFile);
                continue;
            }
            // The token names its section exactly as written: blanks and leading zeros stay.
            std::string section = "failcmd" + token;
            if (file.GotoSection(section) == 0) {
                Report("Error: Could not find the Section %s in %s\n", section.c_str(), configFile);
                continue;
            }
            std::string failCmd = file.GetSectionEntry("FAIL_CMD");
            if (failCmd == ConfigBuffer::ENTRY_NOT_FOUND) {
                Report("Error: Could not find FAIL_CMD entry in Section %s\n", section.c_str());
                continue;
            }
            int32_t goodReturn = file.GetSectionValue("FAIL_CMD_GOOD_RETURN");
            if (goodReturn == ConfigBuffer::VALUE_NOT_FOUND) {
                goodReturn = 0;
            }
            *tail = NewFailCmdStructure(failCmd.c_str(), TokenNumber(token), goodReturn);
            tail = &(*tail)->next;
        }
    } catch (...) {
        DeleteFailCmdStructure(first);
        throw;
    }
    return first;
}

FailCmdStructure* GetFailCommand(FailCmdStructure* first, long returnValue) {
    for (FailCmdStructure* node = first; node != nullptr; node = node->next) {
        if (node->failCmd.has_value() && node->returnValue == returnValue) {
            return node;
        }
    }
    return nullptr;
}

int IsGoodReturnValue(const GoodCmdStructure* first, int returnValue) {
    for (const GoodCmdStructure* node = first; node != nullptr; node = node->next) {
        if (node->value == returnValue) {
            return 1;
        }
    }
    return 0;
}

// Fuzz target for the return-code lists: both forms of GetNumbers and the two lookups.
// Input: the first line is the GOOD_RET/BAD_RET text, the rest is the sectioned service file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/return_lists.h"
#include "fuzz_support.h"
#include "platform/config_file.h"

namespace {

using fuzz::Check;

struct Expected {
    int32_t returnValue;
    int32_t goodReturn;
    std::string failCmd;
};

// The comma-terminated tokens; the piece after the last comma is not one.
std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    size_t start = 0;
    size_t comma;
    while ((comma = text.find(',', start)) != std::string::npos) {
        tokens.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return tokens;
}

// strtol's reading of a token, held to the 32-bit bounds.
int32_t ExpectedNumber(const std::string& token) {
    long long value = strtoll(token.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// The nodes the fail-command form must give, from the file's own lookups.
std::vector<Expected> ExpectedFailNodes(const std::vector<std::string>& tokens,
                                        MultiSectionConfigFile& file) {
    std::vector<Expected> nodes;
    for (const std::string& token : tokens) {
        if (token.size() > kMaxFailTokenLength || file.GotoSection("failcmd" + token) == 0) {
            continue;
        }
        std::string failCmd = file.GetSectionEntry("FAIL_CMD");
        if (failCmd == ConfigBuffer::ENTRY_NOT_FOUND) {
            continue;
        }
        int32_t goodReturn = file.GetSectionValue("FAIL_CMD_GOOD_RETURN");
        if (goodReturn == ConfigBuffer::VALUE_NOT_FOUND) {
            goodReturn = 0;
        }
        // The record takes the command as a C string: a NUL in the file ends it there.
        nodes.push_back({ExpectedNumber(token), goodReturn, std::string(failCmd.c_str())});
    }
    return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    const std::string text = input.substr(0, newline);
    const std::string rest = newline == std::string::npos ? "" : input.substr(newline + 1);
    const std::string& path =
        fuzz::WriteMemoryFile(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
    const std::vector<std::string> tokens = Tokens(text);

    GoodCmdStructure* good = GetNumbers(text);
    size_t count = 0;
    for (const GoodCmdStructure* node = good; node != nullptr; node = node->next, ++count) {
        Check(count < tokens.size(), "more good nodes than tokens");
        Check(node->value == ExpectedNumber(tokens[count]), "good value");
        Check(IsGoodReturnValue(good, node->value) == 1, "listed value not good");
    }
    Check(count == tokens.size(), "fewer good nodes than tokens");

    MultiSectionConfigFile file(path, false, true, false);
    FailCmdStructure* fail = GetNumbers(text, "fuzz-service", file);
    const std::vector<Expected> expected = ExpectedFailNodes(tokens, file);
    count = 0;
    for (FailCmdStructure* node = fail; node != nullptr; node = node->next, ++count) {
        Check(count < expected.size(), "more fail nodes than expected");
        Check(node->returnValue == expected[count].returnValue, "fail return value");
        Check(node->goodReturn == expected[count].goodReturn, "fail good return");
        Check(node->failCmd.has_value() && *node->failCmd == expected[count].failCmd,
              "fail command");
        // The earliest node with the value is the one found.
        FailCmdStructure* found = GetFailCommand(fail, node->returnValue);
        Check(found != nullptr && found->returnValue == node->returnValue, "fail lookup");
        for (FailCmdStructure* earlier = fail; earlier != found; earlier = earlier->next) {
            Check(earlier->returnValue != node->returnValue, "fail lookup not the earliest");
        }
    }
    Check(count == expected.size(), "fewer fail nodes than expected");

    // A value in neither list is neither good nor known bad; the empty lists know nothing.
    for (int32_t probe : {0, 1, -1, 2147483647, -2147483647 - 1, 256}) {
        bool inGood = false;
        for (const std::string& token : tokens) {
            inGood = inGood || ExpectedNumber(token) == probe;
        }
        Check(IsGoodReturnValue(good, probe) == (inGood ? 1 : 0), "good probe");
        bool inFail = false;
        for (const Expected& node : expected) {
            inFail = inFail || node.returnValue == probe;
        }
        Check((GetFailCommand(fail, probe) != nullptr) == inFail, "fail probe");
        Check(IsGoodReturnValue(nullptr, probe) == 0, "empty good list");
        Check(GetFailCommand(nullptr, probe) == nullptr, "empty fail list");
    }

    DeleteGoodCmdStructure(good);
    DeleteFailCmdStructure(fail);
    return 0;
}

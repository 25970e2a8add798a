// The good-return and fail-command lists of one service, their parser and their lookups.
// Owns the list grammar ("value," tokens) and the reading of the failcmd sections.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class MultiSectionConfigFile;

struct GoodCmdStructure {
    int32_t value;
    GoodCmdStructure* next;
};

struct FailCmdStructure {
    int32_t returnValue;
    int32_t goodReturn;
    std::optional<std::string> failCmd;
    FailCmdStructure* next;
};

// Longest BAD_RET token that still names a section within the 111-character section bound.
constexpr size_t kMaxFailTokenLength = 104;

GoodCmdStructure* NewGoodCmdStructure(int value);
FailCmdStructure* NewFailCmdStructure(const char* cmd, long returnValue, int goodReturn);
void DeleteFailCmdStructure(FailCmdStructure* first);
void DeleteGoodCmdStructure(GoodCmdStructure* first);

// Number of one token as strtol reads it in base 10, clamped to the signed 32-bit bounds.
int32_t TokenNumber(const std::string& token);

// The comma-terminated tokens of a list, in order, each exactly as written.
std::vector<std::string> ListTokens(const std::string& text);
// What follows the last comma (all of it when there is none): text that is never read.
std::string ListTail(const std::string& text);

// GOOD_RET: one node per comma-terminated token, in order.
GoodCmdStructure* GetNumbers(std::string text);
// BAD_RET: one node per comma-terminated token whose section "failcmd<token>" has FAIL_CMD.
FailCmdStructure* GetNumbers(std::string text, const char* configFile,
                             MultiSectionConfigFile& file);

FailCmdStructure* GetFailCommand(FailCmdStructure* first, long returnValue);
int IsGoodReturnValue(const GoodCmdStructure* first, int returnValue);

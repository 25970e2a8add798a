// Good-return and fail-command lists: the token grammar, the failcmd sections and the lookups.
// Service files are written at their real place inside the test's private root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "config/return_lists.h"
#include "platform/config_file.h"
#include "test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<int32_t> Values(const GoodCmdStructure* first) {
    std::vector<int32_t> values;
    for (const GoodCmdStructure* node = first; node != nullptr; node = node->next) {
        values.push_back(node->value);
    }
    return values;
}

using FailNode = std::tuple<int32_t, int32_t, std::optional<std::string>>;

std::vector<FailNode> Nodes(const FailCmdStructure* first) {
    std::vector<FailNode> nodes;
    for (const FailCmdStructure* node = first; node != nullptr; node = node->next) {
        nodes.emplace_back(node->returnValue, node->goodReturn, node->failCmd);
    }
    return nodes;
}

struct GoodRetCase {
    std::string text;
    std::vector<int32_t> expected;
};

TEST(GoodReturnList, TokenGrammar) {
    const std::vector<GoodRetCase> cases = {
        {"0,", {0}},
        {"0,1,2,", {0, 1, 2}},
        {"0,1,2", {0, 1}},  // the piece after the last comma is never read
        {"0", {}},
        {"", {}},
        {",", {0}},
        {",5,", {0, 5}},
        {" 7,", {7}},
        {"\t7,", {7}},
        {"+7,", {7}},
        {"-1,", {-1}},
        {"word,", {0}},
        {"12abc,", {12}},
        {"7 ,", {7}},
        {"1, 2,", {1, 2}},
        {"1-5,", {1}},
        {"0x1F,", {0}},
        {"007,", {7}},
        {"- 3,", {0}},
        {"99999999999,", {2147483647}},
        {"-99999999999,", {-2147483647 - 1}},
        {"2147483647,-2147483648,", {2147483647, -2147483647 - 1}},
        {"3,3,1,", {3, 3, 1}},  // duplicates stay, nothing is sorted
    };
    for (const GoodRetCase& c : cases) {
        GoodCmdStructure* list = GetNumbers(c.text);
        EXPECT_EQ(Values(list), c.expected) << "GOOD_RET text \"" << c.text << "\"";
        if (c.expected.empty()) {
            EXPECT_EQ(list, nullptr) << "GOOD_RET text \"" << c.text << "\"";
        }
        DeleteGoodCmdStructure(list);
    }
}

TEST(GoodReturnList, LookupFindsOnlyListedValues) {
    GoodCmdStructure* list = GetNumbers("0,3,-1,");
    EXPECT_EQ(IsGoodReturnValue(list, 0), 1);
    EXPECT_EQ(IsGoodReturnValue(list, 3), 1);
    EXPECT_EQ(IsGoodReturnValue(list, -1), 1);
    EXPECT_EQ(IsGoodReturnValue(list, 1), 0);
    EXPECT_EQ(IsGoodReturnValue(list, 255), 0);
    DeleteGoodCmdStructure(list);

    for (int value : {0, 1, -1, 2147483647}) {
        EXPECT_EQ(IsGoodReturnValue(nullptr, value), 0) << value;
    }
}

// Releasing must walk, not recurse: a list this long would overflow the stack with one frame
// per node, and parsing it must not be quadratic either.
TEST(GoodReturnList, VeryLongListIsBuiltAndReleased) {
    const size_t count = 500000;
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += (i % 2 == 0) ? "1," : "2,";
    }
    GoodCmdStructure* list = GetNumbers(text);
    size_t length = 0;
    for (GoodCmdStructure* node = list; node != nullptr; node = node->next) {
        ++length;
    }
    EXPECT_EQ(length, count);
    DeleteGoodCmdStructure(list);

    FailCmdStructure* fails = nullptr;
    for (size_t i = 0; i < count; ++i) {
        FailCmdStructure* node = NewFailCmdStructure("repair", 1, 0);
        node->next = fails;
        fails = node;
    }
    DeleteFailCmdStructure(fails);
    DeleteFailCmdStructure(nullptr);  // the empty list is accepted
    DeleteGoodCmdStructure(nullptr);
}

TEST(FailCommandRecord, NewNodeOwnsItsCopyAndKeepsNullApart) {
    std::string text = "restart ppp";
    FailCmdStructure* node = NewFailCmdStructure(text.c_str(), 4, 7);
    text = "changed";
    EXPECT_EQ(node->returnValue, 4);
    EXPECT_EQ(node->goodReturn, 7);
    EXPECT_EQ(node->failCmd, std::optional<std::string>("restart ppp"));
    EXPECT_EQ(node->next, nullptr);

    node->next = NewFailCmdStructure(nullptr, 4, 0);
    EXPECT_FALSE(node->next->failCmd.has_value());
    node->next->next = NewFailCmdStructure("", 5, 0);
    // A node without a command never matches; an empty command is still a command.
    EXPECT_EQ(GetFailCommand(node->next, 4), nullptr);
    EXPECT_EQ(GetFailCommand(node->next, 5), node->next->next);
    EXPECT_EQ(GetFailCommand(node, 4), node);
    EXPECT_EQ(GetFailCommand(node, 6), nullptr);
    EXPECT_EQ(GetFailCommand(nullptr, 4), nullptr);
    DeleteFailCmdStructure(node);
}

class BadReturnList : public ::testing::Test {
  protected:
    const std::string path_ = "/etc/vigilerd/ppp";

    void TearDown() override { test::RemovePath("/etc/vigilerd"); }

    FailCmdStructure* Parse(const std::string& badRet, const std::string& fileText) {
        test::WriteFile(path_, fileText);
        MultiSectionConfigFile file(path_, false, true, false);
        return GetNumbers(badRet, path_.c_str(), file);
    }
};

TEST_F(BadReturnList, SectionsDecideWhichValuesGetANode) {
    test::LogCapture log;
    FailCmdStructure* list = Parse("1,2,3,4,",
                                   "[basic]\n"
                                   "SCRIPT=/usr/bin/true\n"
                                   "[failcmd1]\n"
                                   "FAIL_CMD=/etc/init.d/ppp restart\n"
                                   "FAIL_CMD_GOOD_RETURN=3\n"
                                   "[failcmd3]\n"
                                   "FAIL_CMD_GOOD_RETURN=1\n"
                                   "[failcmd4]\n"
                                   "FAIL_CMD=\n");
    EXPECT_THAT(Nodes(list), ElementsAre(FailNode{1, 3, "/etc/init.d/ppp restart"},
                                         FailNode{4, 0, std::string()}));
    EXPECT_THAT(log.Messages(),
                ElementsAre("Error: Could not find the Section failcmd2 in /etc/vigilerd/ppp\n",
                            "Error: Could not find FAIL_CMD entry in Section failcmd3\n"));
    // The empty command is present: its value is a known bad value with a command to run.
    FailCmdStructure* four = GetFailCommand(list, 4);
    ASSERT_NE(four, nullptr);
    EXPECT_EQ(four->failCmd, std::optional<std::string>(""));
    EXPECT_EQ(GetFailCommand(list, 2), nullptr);
    EXPECT_EQ(GetFailCommand(list, 3), nullptr);
    DeleteFailCmdStructure(list);
}

TEST_F(BadReturnList, TokenNamesItsSectionExactlyAsWritten) {
    test::LogCapture log;
    FailCmdStructure* list = Parse("1,01, 5,,9",
                                   "[failcmd1]\n"
                                   "FAIL_CMD=one\n"
                                   "[failcmd01]\n"
                                   "FAIL_CMD=zero one\n"
                                   "FAIL_CMD_GOOD_RETURN=-2\n"
                                   "[failcmd 5]\n"
                                   "FAIL_CMD=blank five\n"
                                   "[failcmd]\n"
                                   "FAIL_CMD=empty token\n"
                                   "[failcmd9]\n"
                                   "FAIL_CMD=never read\n");
    EXPECT_THAT(Nodes(list),
                ElementsAre(FailNode{1, 0, "one"}, FailNode{1, -2, "zero one"},
                            FailNode{5, 0, "blank five"}, FailNode{0, 0, "empty token"}));
    EXPECT_THAT(log.Messages(), IsEmpty());
    // Both nodes hold 1; the earlier one, from failcmd1, wins.
    FailCmdStructure* one = GetFailCommand(list, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->failCmd, std::optional<std::string>("one"));
    EXPECT_EQ(GetFailCommand(list, 9), nullptr);
    DeleteFailCmdStructure(list);
}

TEST_F(BadReturnList, OverlongTokenIsSkippedWithoutLookingItUp) {
    const std::string longest(kMaxFailTokenLength, '7');
    const std::string overlong(kMaxFailTokenLength + 1, '8');
    test::LogCapture log;
    FailCmdStructure* list =
        Parse(overlong + "," + longest + ",2,", "[failcmd" + overlong + "]\n" +
                                                    "FAIL_CMD=must not be read\n"
                                                    "[failcmd" +
                                                    longest + "]\n" +
                                                    "FAIL_CMD=longest\n"
                                                    "[failcmd2]\n"
                                                    "FAIL_CMD=two\n");
    EXPECT_THAT(Nodes(list),
                ElementsAre(FailNode{2147483647, 0, "longest"}, FailNode{2, 0, "two"}));
    EXPECT_THAT(log.Messages(),
                ElementsAre("Error: Config file error (/etc/vigilerd/ppp): BAD_RET entry too "
                            "long, ignored\n"));
    DeleteFailCmdStructure(list);
}

TEST_F(BadReturnList, NoCommaMeansNoList) {
    test::LogCapture log;
    EXPECT_EQ(Parse("1", "[failcmd1]\nFAIL_CMD=one\n"), nullptr);
    EXPECT_EQ(Parse("", "[failcmd]\nFAIL_CMD=one\n"), nullptr);
    EXPECT_THAT(log.Messages(), IsEmpty());
}

}  // namespace

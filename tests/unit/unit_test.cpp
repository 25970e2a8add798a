// Unit tests for what the scenarios cannot reach cheaply: the file syntax and number parsing,
// the return-value list grammar, and the capture of command output and exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include "config/return_lists.h"
#include "platform/config_file.h"
#include "platform/system.h"

namespace {

using namespace std::string_literals;
const std::string& kAbsent = ConfigBuffer::ENTRY_NOT_FOUND;
constexpr int32_t kNone = ConfigBuffer::VALUE_NOT_FOUND;

// A path whose reading gives `text`: an in-memory file of this process.
std::string File(const std::string& text) {
    static int fd = memfd_create("config", 0);
    EXPECT_EQ(ftruncate(fd, 0), 0);
    EXPECT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    return "/proc/self/fd/" + std::to_string(fd);
}

TEST(ConfigFile, Entries) {
    const std::vector<std::array<std::string, 3>> cases = {
        {"KEY=value\n", "KEY", "value"}, {"  KEY \t=\t va lue  ", "KEY", "va lue"},
        {"KEY=\" a \"\n", "KEY", " a "}, {"KEY=' '\n", "KEY", " "},
        {"KEY=\"\"\n", "KEY", ""},       {"KEY='a\"\n", "KEY", "'a\""},
        {"KEY=a=b\n", "KEY", "a=b"},     {"KEY=1\nKEY=2\n", "KEY", "2"},
        {"KEY=1\r\n", "KEY", "1"},       {"KEY=1\nKEY=2\0x\n"s, "KEY", "1"},
        {" # KEY=1\n", "KEY", kAbsent},  {"KEY 1\n", "KEY", kAbsent},
        {"key=1\n", "KEY", kAbsent},     {"KEY=3 # three\n", "KEY", "3 # three"},
        {"[s]\nKEY=1\n", "KEY", "1"},    {"=1\n", "", kAbsent}};
    for (const auto& [text, key, value] : cases) {
        ConfigFile file(File(text), false, false);
        EXPECT_EQ(file.GetEntry(key), value) << text;
    }
}

TEST(ConfigFile, Numbers) {
    const char* texts[] = {
        "3",          " -12 ", "+5",   "-2147483648", "010", "2147483646", "2147483647",
        "2147483648", "3x",    "0x10", "1.5",         "",    "-",          "99999999999999999999"};
    const int32_t values[] = {3,     -12,   5,     INT32_MIN, 10,    2147483646, kNone,
                              kNone, kNone, kNone, kNone,     kNone, kNone,      kNone};
    for (size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(ConfigBuffer::ParseNumber(texts[i]), values[i]) << texts[i];
    ConfigFile file(File("A=7\nB=x\n"), false, false);
    EXPECT_EQ(file.GetValue("A"), 7);
    EXPECT_EQ(file.GetValue("B"), kNone);
    EXPECT_EQ(file.GetValue("C"), kNone);
}

TEST(ConfigFile, Sections) {
    MultiSectionConfigFile file(File("A=0\n[one]\nA=1\n[ two ]\nA=2\n[one]\nB=3\n[]\n"), false,
                                false, false);
    EXPECT_EQ(file.GetSectionEntry("A"), kAbsent);  // before the first header: no section
    ASSERT_EQ(file.GotoSection("one"), 1);
    EXPECT_EQ(file.GetSectionEntry("A") + file.GetSectionEntry("B"), "13");
    EXPECT_EQ(file.GotoSection("two"), 0);
    ASSERT_EQ(file.GotoSection(" two "), 1);
    EXPECT_EQ(file.GetSectionValue("A"), 2);
    EXPECT_EQ(file.GotoSection(""), 1);
}

// Every value read is good, and only those.
TEST(ReturnLists, Grammar) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0,", "0 "},
        {"0,1,", "0 1 "},
        {"0,1", "0 "},
        {"0", ""},
        {"", ""},
        {"12abc,", "12 "},
        {"abc,,", "0 0 "},
        {"1-5,", "1 "},
        {"0x1F,", "0 "},
        {"010,", "10 "},
        {" -7, 8 ,", "-7 8 "},
        {"99999999999,-99999999999,", "2147483647 -2147483648 "}};
    for (const auto& [text, values] : cases) {
        GoodCmdStructure* list = GetNumbers(text);
        std::string read;
        for (GoodCmdStructure* node = list; node != nullptr; node = node->next)
            read +=
                std::to_string(node->value) + (IsGoodReturnValue(list, node->value) ? " " : "?");
        EXPECT_EQ(read, values) << text;
        EXPECT_EQ(IsGoodReturnValue(list, 424242), 0);
        DeleteGoodCmdStructure(list);
    }
}

// The child starts with every signal at its default and none blocked, whatever the caller
// has; it holds only its standard streams; a background process cannot hold up the return.
TEST(System, OutputAndStatus) {
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"printf 'a\\nb'", 0, "a\nb"},
        {"echo out; echo err >&2; exit 3", 3, "out\nerr\n"},
        {"kill -9 $$", 137, ""},
        {"cat; exit 255", 255, ""},
        {"printf %05000d 0", 0, std::string(4096, '0')},
        {"ls /proc/$$/fd; for m in Blk Ign; do echo $((0x$(sed -n \"s/^Sig$m:.//p\" "
         "/proc/$$/status) & 0x7fffffff)); done",
         0, "0\n1\n2\n0\n0\n"},
        {"(sleep 3; echo late) & echo now", 0, "now\n"}};
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    signal(SIGUSR1, SIG_IGN);
    for (const auto& [command, code, output] : cases) {
        auto start = std::chrono::steady_clock::now();
        std::string got = "stale";
        EXPECT_EQ(System(command, got), code) << command;
        EXPECT_EQ(got, output) << command;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << command;
    }
    EXPECT_EQ(System("echo dropped", emptyResult), 0);
    EXPECT_EQ(emptyResult, "");
    signal(SIGUSR1, SIG_DFL);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

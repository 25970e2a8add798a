// Configuration-file library over files that are not quite text: NUL bytes, binary junk,
// megabyte lines, no final newline. A line with a NUL gives nothing; the rest reads as usual.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/config_file.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

const std::string kDir = "/run/unit-config-binary";
const std::string& kAbsent = ConfigBuffer::ENTRY_NOT_FOUND;

class ConfigFileBinaryTest : public testing::Test {
  protected:
    void SetUp() override { test::RemovePath(kDir); }
    void TearDown() override { test::RemovePath(kDir); }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = kDir + "/" + name;
        test::WriteFile(path, content);
        return path;
    }
};

TEST_F(ConfigFileBinaryTest, FlatFileLinesWithNulGiveNoEntry) {
    std::string huge(3 * 1024 * 1024, 'v');
    std::string path = Write("flat.conf",
                             "ESCALATION=reboot\0 now\n"
                             "SCRIPT=/bin/true\n"
                             "\0HIDDEN=1\n"
                             "HID\0DEN=2\n"
                             "NUMBER=12\0\n"
                             "BINARY=\x01\x7f\xff\xfe=\x80\n"
                             "HUGE="s +
                                 huge + "\nLAST=no newline");
    ConfigFile file(path, false, false);
    file.ReadFile();
    const ConfigBuffer& buffer = file.Buffer();
    EXPECT_EQ(buffer.GetEntry("ESCALATION"), kAbsent);
    EXPECT_EQ(buffer.GetEntry("HIDDEN"), kAbsent);
    EXPECT_EQ(buffer.GetEntry("HID"), kAbsent);
    EXPECT_EQ(buffer.GetValue("NUMBER"), ConfigBuffer::VALUE_NOT_FOUND);
    EXPECT_EQ(buffer.GetEntry("SCRIPT"), "/bin/true");
    EXPECT_EQ(buffer.GetEntry("BINARY"), "\x01\x7f\xff\xfe=\x80");
    EXPECT_EQ(buffer.GetEntry("HUGE"), huge);
    EXPECT_EQ(buffer.GetEntry("LAST"), "no newline");
}

TEST_F(ConfigFileBinaryTest, SectionedFileLinesWithNulGiveNoEntryAndNoSection) {
    std::string path = Write("sectioned.conf",
                             "[basic]\r\nSCRIPT=/bin/true\0; rm -rf /\r\nMAX_FAIL=3\r\n"
                             "[failcmd\0x]\nFAIL_CMD=in basic after all\n"
                             "[failcmd1]\nFAIL_CMD=/bin/true"s);
    MultiSectionConfigFile file(path, false, true, false);
    ASSERT_NE(file.GotoSection("basic"), 0);
    EXPECT_EQ(file.GetSectionEntry("SCRIPT"), kAbsent);
    EXPECT_EQ(file.GetSectionValue("MAX_FAIL"), 3);
    // The header with the NUL opened nothing: its key landed in the section before it.
    EXPECT_EQ(file.GetSectionEntry("FAIL_CMD"), "in basic after all");
    EXPECT_EQ(file.GotoSection("failcmd"), 0);
    EXPECT_EQ(file.GotoSection("failcmd\0x"s), 0);
    ASSERT_NE(file.GotoSection("failcmd1"), 0);
    EXPECT_EQ(file.GetSectionEntry("FAIL_CMD"), "/bin/true");
}

TEST_F(ConfigFileBinaryTest, NothingButJunkGivesNothing) {
    std::string junk(65536, '\0');
    uint32_t seed = 1;
    for (char& byte : junk) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 23);
    }
    std::string path = Write("junk.conf", junk);
    ConfigFile flat(path, false, false);
    EXPECT_NO_THROW(flat.ReadFile());
    MultiSectionConfigFile sectioned(path, false, true, false);
    EXPECT_EQ(sectioned.GotoSection("basic"), 0);
}

}  // namespace

// Configuration-file library: line syntax, quoting, numbers, sections and unreadable files.
// Every file is written into the test's private root and read back through the public calls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/config_file.h"
#include "test_support.h"

namespace {

const std::string kDir = "/run/unit-config";
const std::string& kAbsent = ConfigBuffer::ENTRY_NOT_FOUND;
constexpr int32_t kNoNumber = 2147483647;

class ConfigFileTest : public testing::Test {
  protected:
    void SetUp() override { test::RemovePath(kDir); }
    void TearDown() override { test::RemovePath(kDir); }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = kDir + "/" + name;
        test::WriteFile(path, content);
        return path;
    }
};

struct EntryCase {
    const char* key;
    const char* value;  // nullptr: absent
};

TEST_F(ConfigFileTest, LinesKeysValuesAndQuotes) {
    std::string path = Write("flat.conf",
                             "# a comment line\n"
                             "   \t# an indented comment = not an entry\n"
                             "#COMMENTED=1\n"
                             "\n"
                             "  \t \n"
                             "PLAIN=value\n"
                             "  SPACED \t=\t  two words  \t\n"
                             "URL=http://host/a=b?c=d\n"
                             "INLINE=value # stays part of the value\n"
                             "DQ=\"  kept blanks  \"\n"
                             "SQ='single quoted'\n"
                             "  PADDED_QUOTES  =   \" x \"   \n"
                             "INNER=a\"b\"c\n"
                             "TWO_WORDS=\"/opt/my tool/fix\" \"now\"\n"
                             "TWO_SQ='a' 'b'\n"
                             "OTHER_INSIDE=\"it's\"\n"
                             "MIXED=\"open'\n"
                             "HALF=\"open\n"
                             "LONE=\"\n"
                             "EMPTY=\n"
                             "BLANKS=   \t \n"
                             "EMPTY_DQ=\"\"\n"
                             "EMPTY_SQ=''\n"
                             "CRLF=dos line\r\n"
                             "CRLF_QUOTED=\"dos \"\r\n"
                             "HASH=#not a comment\n"
                             "key=lower\n"
                             "KEY=upper\n"
                             "TWICE=first\n"
                             "TWICE=second\n"
                             "NO EQUALS SIGN\n"
                             "=no key\n"
                             "MY KEY=inner blank\n"
                             "LAST=no newline at the end");
    ConfigFile file(path, false, false);
    EXPECT_FALSE(file.IsRead());
    file.ReadFile();
    EXPECT_TRUE(file.IsRead());
    const ConfigBuffer& buffer = file.Buffer();

    const EntryCase cases[] = {
        {"PLAIN", "value"},
        {"SPACED", "two words"},
        {"URL", "http://host/a=b?c=d"},
        {"INLINE", "value # stays part of the value"},
        {"DQ", "  kept blanks  "},
        {"SQ", "single quoted"},
        {"PADDED_QUOTES", " x "},
        {"INNER", "a\"b\"c"},
        {"TWO_WORDS", "\"/opt/my tool/fix\" \"now\""},
        {"TWO_SQ", "'a' 'b'"},
        {"OTHER_INSIDE", "it's"},
        {"MIXED", "\"open'"},
        {"HALF", "\"open"},
        {"LONE", "\""},
        {"EMPTY", ""},
        {"BLANKS", ""},
        {"EMPTY_DQ", ""},
        {"EMPTY_SQ", ""},
        {"CRLF", "dos line"},
        {"CRLF_QUOTED", "dos "},
        {"HASH", "#not a comment"},
        {"key", "lower"},
        {"KEY", "upper"},
        {"Key", nullptr},
        {"TWICE", "second"},
        {"MY KEY", "inner blank"},
        {"LAST", "no newline at the end"},
        {"COMMENTED", nullptr},
        {"#COMMENTED", nullptr},
        {"# an indented comment", nullptr},
        {"NO EQUALS SIGN", nullptr},
        {"", nullptr},
        {"MISSING", nullptr},
    };
    for (const EntryCase& c : cases) {
        std::string expected = c.value == nullptr ? kAbsent : c.value;
        EXPECT_EQ(buffer.GetEntry(c.key), expected) << "key '" << c.key << "'";
        EXPECT_EQ(file.GetEntry(c.key), expected) << "key '" << c.key << "'";
    }
    // A present but empty value is not the absent sentinel.
    EXPECT_NE(buffer.GetEntry("EMPTY"), kAbsent);
    EXPECT_EQ(buffer.GetValue("MISSING"), kNoNumber);
    EXPECT_EQ(buffer.GetValue("EMPTY"), kNoNumber);
}

TEST_F(ConfigFileTest, NumbersAreDecimalSigned32BitOrAbsent) {
    struct NumberCase {
        const char* text;
        int32_t value;
    } cases[] = {
        {"0", 0},
        {"42", 42},
        {"007", 7},
        {"+5", 5},
        {"-17", -17},
        {"  \t 12 \t ", 12},
        {"\" 13 \"", 13},
        {"' -14'", -14},
        {"2147483646", 2147483646},
        {"2147483647", INT32_MAX},  // the largest number reads like an absent one
        {"-2147483648", INT32_MIN},
        {"2147483648", kNoNumber},
        {"+2147483648", kNoNumber},
        {"-2147483649", kNoNumber},
        {"99999999999999999999999999", kNoNumber},
        {"12abc", kNoNumber},
        {"abc", kNoNumber},
        {"1 2", kNoNumber},
        {"0x10", kNoNumber},
        {"3.5", kNoNumber},
        {"1e3", kNoNumber},
        {"+", kNoNumber},
        {"-", kNoNumber},
        {"--1", kNoNumber},
        {"+-1", kNoNumber},
        {"- 1", kNoNumber},
        {"", kNoNumber},
        {"\"\"", kNoNumber},
    };
    std::string content;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        content += "N" + std::to_string(i) + "=" + cases[i].text + "\n";
    }
    ConfigFile file(Write("numbers.conf", content), false, false);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::string key = "N" + std::to_string(i);
        EXPECT_EQ(file.GetValue(key), cases[i].value) << "value '" << cases[i].text << "'";
        EXPECT_EQ(ConfigBuffer::ParseNumber(file.GetEntry(key)), cases[i].value);
    }
    EXPECT_EQ(file.GetValue("N"), kNoNumber);
}

TEST_F(ConfigFileTest, ReadingAgainSeesTheFileAsItIsNow) {
    std::string path = Write("changing.conf", "A=1\nB=2\n");
    ConfigFile file(path, false, false);
    file.ReadFile();
    EXPECT_EQ(file.GetValue("A"), 1);
    test::WriteFile(path, "A=3\n");
    EXPECT_EQ(file.GetValue("A"), 1);  // lookups use what was read
    file.ReadFile();
    EXPECT_EQ(file.GetValue("A"), 3);
    EXPECT_EQ(file.GetEntry("B"), kAbsent);
}

TEST_F(ConfigFileTest, FileThatCannotBeReadThrowsAStandardException) {
    Write("a-directory/inside", "X=1\n");
    const std::string unreadable[] = {kDir + "/no-such-file", kDir + "/no-such-dir/file",
                                      kDir + "/a-directory", ""};
    for (const std::string& path : unreadable) {
        ConfigFile file(path, false, false);  // building it touches nothing
        EXPECT_FALSE(file.IsRead());
        try {
            file.ReadFile();
            ADD_FAILURE() << "no exception for '" << path << "'";
        } catch (const std::exception& error) {
            EXPECT_THAT(error.what(), testing::HasSubstr(path)) << path;
        }
        EXPECT_FALSE(file.IsRead());
        EXPECT_THROW(file.GetEntry("X"), std::exception) << path;
        EXPECT_THROW(file.GetValue("X"), std::exception) << path;
        EXPECT_THROW(MultiSectionConfigFile(path, false, true, false), std::exception) << path;
    }
}

TEST_F(ConfigFileTest, SectionsGroupTheirOwnKeys) {
    std::string path = Write("sections.conf",
                             "ORPHAN=before any header\n"
                             "# comment\n"
                             "[basic]\n"
                             "SCRIPT=/etc/init.d/thing\n"
                             "MAX_FAIL = 3 \n"
                             "SHARED=basic\n"
                             "EMPTY=\n"
                             "TWICE=first\n"
                             "TWICE=second\n"
                             "  [failcmd1]  \r\n"
                             "SHARED=failcmd1\n"
                             "COMMAND=\"  spaced command  \"\n"
                             "[ blank name ]\n"
                             "INSIDE=yes\n"
                             "[Basic]\n"
                             "CASE=upper\n"
                             "[basic] # not a header\n"
                             "AFTER=still in Basic\n"
                             "[notaheader\n"
                             "BROKEN=also still in Basic\n"
                             "[basic]\n"
                             "LATER=again in basic\n"
                             "TWICE=third\n");
    MultiSectionConfigFile file(path, false, true, false);

    // Before any section is chosen, nothing is found.
    EXPECT_EQ(file.GetSectionEntry("SCRIPT"), kAbsent);
    EXPECT_EQ(file.GetSectionValue("MAX_FAIL"), kNoNumber);

    ASSERT_NE(file.GotoSection("basic"), 0);
    EXPECT_EQ(file.GetSectionEntry("SCRIPT"), "/etc/init.d/thing");
    EXPECT_EQ(file.GetSectionValue("MAX_FAIL"), 3);
    EXPECT_EQ(file.GetSectionEntry("SHARED"), "basic");
    EXPECT_EQ(file.GetSectionEntry("EMPTY"), "");
    EXPECT_EQ(file.GetSectionValue("EMPTY"), kNoNumber);
    // A section named twice goes on where it left off; the last equal key wins.
    EXPECT_EQ(file.GetSectionEntry("LATER"), "again in basic");
    EXPECT_EQ(file.GetSectionEntry("TWICE"), "third");
    EXPECT_EQ(file.GetSectionEntry("ORPHAN"), kAbsent);
    EXPECT_EQ(file.GetSectionEntry("COMMAND"), kAbsent);
    EXPECT_EQ(file.GetSectionEntry("CASE"), kAbsent);

    ASSERT_NE(file.GotoSection("failcmd1"), 0);
    EXPECT_EQ(file.GetSectionEntry("SHARED"), "failcmd1");
    EXPECT_EQ(file.GetSectionEntry("COMMAND"), "  spaced command  ");
    EXPECT_EQ(file.GetSectionEntry("SCRIPT"), kAbsent);

    ASSERT_NE(file.GotoSection(" blank name "), 0);
    EXPECT_EQ(file.GetSectionEntry("INSIDE"), "yes");
    EXPECT_EQ(file.GotoSection("blank name"), 0);

    ASSERT_NE(file.GotoSection("Basic"), 0);
    EXPECT_EQ(file.GetSectionEntry("CASE"), "upper");
    EXPECT_EQ(file.GetSectionEntry("AFTER"), "still in Basic");
    EXPECT_EQ(file.GetSectionEntry("BROKEN"), "also still in Basic");
    EXPECT_EQ(file.GetSectionEntry("SCRIPT"), kAbsent);

    EXPECT_EQ(file.GotoSection("BASIC"), 0);
    EXPECT_EQ(file.GotoSection("failcmd2"), 0);
    EXPECT_EQ(file.GotoSection(""), 0);
    EXPECT_EQ(file.GotoSection("notaheader"), 0);
}

}  // namespace

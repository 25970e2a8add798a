// The settings file: check interval and space limits, the lines for missing keys, and the
// sleep that an unreadable file sends the daemon into.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings_reader.h"
#include "core/log.h"
#include "core/signals.h"
#include "test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr int32_t kAbsent = 2147483647;

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        test::RemovePath(kSettingsPath);
    }
    void TearDown() override {
        test::RemovePath(kSettingsPath);
        test::ResetDaemonState();
    }
};

struct SettingsCase {
    const char* what;
    std::string content;
    int result;
    int32_t freeBbram, criticalBbram, freeConfig, criticalConfig;
    std::vector<std::string> messages;
};

TEST_F(SettingsFile, KeysValuesAndMissingKeyLines) {
    const std::string limits =
        "FREE_LIMIT_BBRAM=20\nCRITICAL_LIMIT_BBRAM=10\n"
        "FREE_LIMIT_CONFIG=30\nCRITICAL_LIMIT_CONFIG=15\n";
    const std::vector<SettingsCase> cases = {
        {"all five keys", "CHECK_INTERVAL=60\n" + limits, 60, 20, 10, 30, 15, {}},
        {"no CHECK_INTERVAL",
         limits,
         -1,
         20,
         10,
         30,
         15,
         {"Error: failed to get the value from CHECK_INTERVAL\n"}},
        {"CHECK_INTERVAL -1 is taken as it stands",
         "CHECK_INTERVAL=-1\n" + limits,
         -1,
         20,
         10,
         30,
         15,
         {}},
        {"values are never range-checked",
         "CHECK_INTERVAL=0\nFREE_LIMIT_BBRAM=0\nCRITICAL_LIMIT_BBRAM=-3\n"
         "FREE_LIMIT_CONFIG=250\nCRITICAL_LIMIT_CONFIG=-2147483648\n",
         0,
         0,
         -3,
         250,
         -2147483647 - 1,
         {}},
        {"no FREE_LIMIT_CONFIG (its line names FREEL_LIMIT_CONFIG)",
         "CHECK_INTERVAL=5\nFREE_LIMIT_BBRAM=20\nCRITICAL_LIMIT_BBRAM=10\n"
         "CRITICAL_LIMIT_CONFIG=15\n",
         5,
         20,
         10,
         kAbsent,
         15,
         {"Error: failed to get the value from FREEL_LIMIT_CONFIG\n"}},
        {"no key at all",
         "# nothing but a comment\nOTHER_KEY=1\n",
         -1,
         kAbsent,
         kAbsent,
         kAbsent,
         kAbsent,
         {"Error: failed to get the value from CHECK_INTERVAL\n",
          "Error: failed to get the value from FREE_LIMIT_BBRAM\n",
          "Error: failed to get the value from CRITICAL_LIMIT_BBRAM\n",
          "Error: failed to get the value from FREEL_LIMIT_CONFIG\n",
          "Error: failed to get the value from CRITICAL_LIMIT_CONFIG\n"}},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::ResetDaemonState();
        test::WriteFile(kSettingsPath, c.content);
        test::LogCapture log;
        EXPECT_EQ(ReadVigilerConfig(), c.result);
        EXPECT_EQ(freeLimitBbram, c.freeBbram);
        EXPECT_EQ(criticalLimitBbram, c.criticalBbram);
        EXPECT_EQ(freeLimitConfig, c.freeConfig);
        EXPECT_EQ(criticalLimitConfig, c.criticalConfig);
        EXPECT_THAT(log.Messages(), ElementsAreArray(c.messages));
        EXPECT_EQ(asleepForGood.load(), 0);  // only an unreadable file puts it to sleep
    }
}

TEST_F(SettingsFile, MissingFileLogsOnceAndGoesToSleep) {
    test::LogCapture log;
    EXPECT_EQ(ReadVigilerConfig(), -1);
    EXPECT_EQ(freeLimitBbram, 0);
    EXPECT_EQ(criticalLimitConfig, 0);
    EXPECT_EQ(asleepForGood.load(), 1);
    // The log was closed by going to sleep: nothing written afterwards reaches it.
    Report("Info: must not be written\n");
    EXPECT_THAT(log.Messages(),
                ElementsAre("Error: failed to open /etc/vigilerd.conf, going to sleep\n"));
}

}  // namespace

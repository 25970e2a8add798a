// End-to-end alert channel: an alert raised inside the box arrives at the box's /dev/log as
// one daemon-facility alert record holding the source and the text verbatim.
#include <gtest/gtest.h>

#include <string>

#include "box.h"

namespace e2e {
namespace {

struct AlertCase {
    const char* name;
    std::string arguments;  // shell words after raise_alert
    std::string message;    // what the record must end with
};

void PrintTo(const AlertCase& param, std::ostream* out) {
    *out << param.name;
}

class AlertTest : public BoxTest, public ::testing::WithParamInterface<AlertCase> {};

TEST_P(AlertTest, RecordArrivesAtTheBoxSystemLog) {
    box.InstallTool("raise_alert");
    box.Start();
    ASSERT_GE(box.WaitForMessage("Info: started"), 0);
    size_t before = box.AlertRecords().size();

    ExecResult raised = box.Exec("raise_alert " + GetParam().arguments);
    ASSERT_EQ(raised.code, 0) << raised.output;
    int index = box.WaitForAlert(GetParam().message, kWait, static_cast<int>(before));
    ASSERT_GE(index, 0);

    std::vector<std::string> records = box.AlertRecords();
    ASSERT_EQ(records.size(), before + 1) << "exactly one record per raise";
    const std::string& record = records[index];
    // Priority 25: facility daemon (3 * 8) with level alert (1).
    EXPECT_EQ(record.substr(0, 4), "<25>") << record;
    const std::string tail = ": " + GetParam().message;
    ASSERT_GE(record.size(), tail.size()) << record;
    EXPECT_EQ(record.substr(record.size() - tail.size()), tail) << record;
    EXPECT_TRUE(box.Alive());
}

INSTANTIATE_TEST_SUITE_P(
    Alerts, AlertTest,
    ::testing::Values(AlertCase{"TextOnly", "'Disk almost full'",
                                "Software Watchdog: Disk almost full"},
                      AlertCase{"TextAndBothExtras", "'Service failed' httpd 'count 3'",
                                "Software Watchdog: Service failed httpd count 3"},
                      // Percent signs and backslashes are text, never a format.
                      AlertCase{"FormatCharactersStayText", "'100% used %s %n \\t'",
                                "Software Watchdog: 100% used %s %n \\t"}),
    [](const ::testing::TestParamInfo<AlertCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e

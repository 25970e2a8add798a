// Log line format and whole lines under concurrent writers.
#include <gtest/gtest.h>

#include "core/log.h"
#include "test_support.h"

TEST(Log, PlaceholderUntilCoreLands) {
    test::LogCapture log;
    Report("Info: started\n");
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(log.Messages()[0], "Info: started\n");
}

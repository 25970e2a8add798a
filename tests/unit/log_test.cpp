// The log line format, whole lines under concurrent writers, and a closed log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "test_support.h"

namespace {

// "<24-character ctime text> [<pid>] "
std::regex LinePattern() {
    return std::regex(
        "^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4} \\[" +
        std::to_string(getpid()) + "\\] (.*)\n$");
}

TEST(Log, LineIsTimePidAndMessage) {
    test::LogCapture log;
    Report("Debug: got signal: %d\n", 14);
    Report("Info: %s and %s\n", "one", "two");

    std::vector<std::string> lines = log.RawLines();
    ASSERT_EQ(lines.size(), 2u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, LinePattern())) << lines[0];
    EXPECT_EQ(match[3].str(), "Debug: got signal: 14");
    // The time text is exactly the 24 characters ctime gives, followed by " [pid] ".
    EXPECT_EQ(lines[0].find(" [" + std::to_string(getpid()) + "] "), 24u);
    EXPECT_EQ(log.Messages()[1], "Info: one and two\n");
}

TEST(Log, NoNewlineIsAdded) {
    test::LogCapture log;
    Report("Warning: ");
    Report("continued\n");
    EXPECT_THAT(log.Messages(), testing::ElementsAre(testing::HasSubstr("Warning: ")));
    EXPECT_THAT(log.RawLines()[0], testing::EndsWith("] continued\n"));
}

TEST(Log, LongLinesAreWrittenWhole) {
    test::LogCapture log;
    std::string output(9000, 'x');
    Report("Warning: returnValue %i (BAD RETURN) from cmd = %s (%s)\n", 3, "/s status",
           output.c_str());
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(log.Messages()[0],
              "Warning: returnValue 3 (BAD RETURN) from cmd = /s status (" + output + ")\n");
}

TEST(Log, ConcurrentWritersNeverMixLines) {
    test::LogCapture log;
    const int kThreads = 6;
    const int kLines = 1500;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            // Lines long enough that a split write would show.
            std::string filler(300 + t * 97, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                Report("Debug: writer %d line %d %s end\n", t, i, filler.c_str());
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::vector<std::string> lines = log.RawLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::regex pattern = LinePattern();
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, pattern)) << line.substr(0, 120);
        int writer = -1;
        int number = -1;
        ASSERT_EQ(sscanf(match[3].str().c_str(), "Debug: writer %d line %d", &writer, &number), 2);
        ASSERT_EQ(number, next[writer]++) << "lines of one writer out of order";
        EXPECT_EQ(match[3].str(), "Debug: writer " + std::to_string(writer) + " line " +
                                      std::to_string(number) + " " +
                                      std::string(300 + writer * 97, 'a' + writer) + " end");
    }
}

TEST(Log, ClosingWhileOthersWriteDropsLaterLines) {
    test::LogCapture log;
    std::atomic<bool> go{true};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&go] {
            while (go) {
                Report("Debug: still writing\n");
            }
        });
    }
    usleep(20000);
    CloseLog();
    size_t linesAtClose = log.RawLines().size();
    usleep(20000);
    go = false;
    for (std::thread& writer : writers) {
        writer.join();
    }
    Report("Info: after close\n");
    EXPECT_GT(linesAtClose, 0u);
    EXPECT_EQ(log.RawLines().size(), linesAtClose);
    for (const std::string& message : log.Messages()) {
        ASSERT_EQ(message, "Debug: still writing\n");
    }
}

}  // namespace

// Free-space alerts against real, small file systems mounted at the watched mount points of
// the test's private root, with the alerts read back from the system log socket.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings_reader.h"
#include "core/daemon.h"
#include "core/log.h"
#include "monitor/space_check.h"
#include "monitor_support.h"
#include "test_support.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

constexpr const char* kBbram = "/mnt/bbram";
constexpr const char* kFlash = "/mnt/flashfs";
constexpr int32_t kAbsent = 2147483647;

std::string Low(const char* contents, const char* share) {
    return test::AlertMessage(std::string("Warning: Running low on file system space for ") +
                              contents + ". " + share + " percent left.");
}

std::string Critical(const char* contents, const char* share) {
    return test::AlertMessage(
        std::string("Warning: Running critically low on file system space for ") + contents + ". " +
        share + " percent left.");
}

int64_t FreeShare(const std::string& path) {
    struct statfs info;
    if (statfs(path.c_str(), &info) != 0 || info.f_blocks == 0) {
        return -1;
    }
    return static_cast<int64_t>(info.f_bfree) * 100 / static_cast<int64_t>(info.f_blocks);
}

uint64_t FreeBlocks(const std::string& path) {
    struct statfs info;
    return statfs(path.c_str(), &info) == 0 ? info.f_bfree : 0;
}

// A fresh, empty tmpfs of `size` at `path`.
void MountSmall(const std::string& path, const char* size) {
    umount2(path.c_str(), MNT_DETACH);
    mkdir(path.c_str(), 0755);
    std::string options = std::string("size=") + size;
    ASSERT_EQ(mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()), 0) << path;
}

void Unmount(const std::string& path) {
    while (umount2(path.c_str(), MNT_DETACH) == 0) {
    }
}

// Fills the file system at `path` until exactly `freeBlocks` blocks are left free.
void SetFreeBlocks(const std::string& path, uint64_t freeBlocks) {
    std::string fill = path + "/fill";
    unlink(fill.c_str());
    struct statfs info;
    ASSERT_EQ(statfs(path.c_str(), &info), 0);
    int fd = open(fill.c_str(), O_CREAT | O_WRONLY | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::string block(info.f_bsize, 'x');
    while (FreeBlocks(path) > freeBlocks) {
        ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    }
    close(fd);
    ASSERT_EQ(FreeBlocks(path), freeBlocks) << path;
}

// On the 100-block file systems of the fixture, the free share is the free block count.
void SetShare(const std::string& path, int share) {
    SetFreeBlocks(path, static_cast<uint64_t>(share));
    ASSERT_EQ(FreeShare(path), share) << path;
}

class SpaceCheck : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetDaemonState();
        ASSERT_TRUE(alerts_.Bound());
        registered_.Register("system", "Software Watchdog");
        savedEvent_ = event;
        event = &registered_;
        // 400 KiB of 4 KiB pages: 100 blocks, so a free share is a count of free blocks.
        MountSmall(kBbram, "400k");
        MountSmall(kFlash, "400k");
        struct statfs info;
        ASSERT_EQ(statfs(kBbram, &info), 0);
        ASSERT_EQ(info.f_blocks, 100u) << "block size " << info.f_bsize;
        SetShare(kBbram, 50);
        SetShare(kFlash, 50);
    }

    void TearDown() override {
        event = savedEvent_;
        Unmount(kBbram);
        Unmount(kFlash);
        rmdir(kBbram);
        rmdir(kFlash);
        test::ResetDaemonState();
    }

    void SetLimits(int32_t freeBbram, int32_t criticalBbram, int32_t freeConfig,
                   int32_t criticalConfig) {
        freeLimitBbram = freeBbram;
        criticalLimitBbram = criticalBbram;
        freeLimitConfig = freeConfig;
        criticalLimitConfig = criticalConfig;
    }

    // One check; returns the alerts it raised.
    std::vector<std::string> Check() {
        EXPECT_EQ(CheckFileSystemSpace(), 0);
        return alerts_.Take();
    }

    test::AlertListener alerts_;
    AlertEvent registered_;
    AlertEvent* savedEvent_ = nullptr;
};

struct Step {
    int share;
    const char* alert;  // "low", "critical" or "" for none
    int32_t lowWarned;
    int32_t criticalWarned;
};

// Free limit 10, critical limit 5, shares 12, 8, 8, 4, 4, 8, 12, 8: each alert once on
// entering its band, nothing while it stays, the low alert again after a climb out.
const std::vector<Step> kFillAndEmpty = {
    {12, "", 0, 0}, {8, "low", 1, 0}, {8, "", 1, 0},  {4, "critical", 1, 1},
    {4, "", 1, 1},  {8, "", 1, 0},    {12, "", 0, 0}, {8, "low", 1, 0},
};

TEST_F(SpaceCheck, EachBandAlertsOnceOnEntryForEitherFileSystem) {
    struct Watched {
        const char* path;
        const char* other;
        const char* contents;
        int32_t& lowWarned;
        int32_t& criticalWarned;
    };
    const Watched both[] = {
        {kBbram, kFlash, "voice mails", bbramLowWarned, bbramCriticalWarned},
        {kFlash, kBbram, "configuration data", configLowWarned, configCriticalWarned},
    };
    for (const Watched& fs : both) {
        SCOPED_TRACE(fs.path);
        test::ResetDaemonState();
        SetLimits(10, 5, 10, 5);
        SetShare(fs.other, 50);
        test::LogCapture log;
        for (size_t i = 0; i < kFillAndEmpty.size(); ++i) {
            const Step& step = kFillAndEmpty[i];
            SCOPED_TRACE("cycle " + std::to_string(i + 1) + ", share " +
                         std::to_string(step.share));
            SetShare(fs.path, step.share);
            std::string figure = std::to_string(step.share) + ".0";
            std::vector<std::string> expected;
            if (std::string(step.alert) == "low") {
                expected.push_back(Low(fs.contents, figure.c_str()));
            } else if (std::string(step.alert) == "critical") {
                expected.push_back(Critical(fs.contents, figure.c_str()));
            }
            EXPECT_EQ(Check(), expected);
            EXPECT_EQ(fs.lowWarned, step.lowWarned);
            EXPECT_EQ(fs.criticalWarned, step.criticalWarned);
        }
        EXPECT_THAT(log.Messages(), IsEmpty()) << "alerts are never logged";
    }
}

TEST_F(SpaceCheck, ShareEqualToALimitIsNotBelowIt) {
    SetLimits(10, 5, 10, 5);
    const std::vector<Step> steps = {
        {8, "low", 1, 0},      {10, "", 0, 0}, {8, "low", 1, 0},      {5, "", 1, 0},
        {4, "critical", 1, 1}, {5, "", 1, 0},  {4, "critical", 1, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE("share " + std::to_string(step.share));
        SetShare(kBbram, step.share);
        std::string figure = std::to_string(step.share) + ".0";
        std::vector<std::string> alerts = Check();
        if (std::string(step.alert) == "low") {
            EXPECT_THAT(alerts, ElementsAre(Low("voice mails", figure.c_str())));
        } else if (std::string(step.alert) == "critical") {
            EXPECT_THAT(alerts, ElementsAre(Critical("voice mails", figure.c_str())));
        } else {
            EXPECT_THAT(alerts, IsEmpty());
        }
        EXPECT_EQ(bbramLowWarned, step.lowWarned);
        EXPECT_EQ(bbramCriticalWarned, step.criticalWarned);
    }
}

TEST_F(SpaceCheck, CriticalLimitAtOrAboveFreeLimitNeverGivesTheLowAlert) {
    SetLimits(5, 10, 5, 5);
    SetShare(kBbram, 3);
    SetShare(kFlash, 4);
    EXPECT_THAT(Check(),
                ElementsAre(Critical("voice mails", "3.0"), Critical("configuration data", "4.0")));
    SetShare(kBbram, 7);
    SetShare(kFlash, 5);
    EXPECT_THAT(Check(), IsEmpty());
    SetShare(kBbram, 3);
    EXPECT_THAT(Check(), ElementsAre(Critical("voice mails", "3.0")));
    SetShare(kBbram, 4);
    EXPECT_THAT(Check(), IsEmpty());
}

TEST_F(SpaceCheck, AbsentLimits) {
    // bbram: both absent, so even an empty file system is critically low, once.
    // flashfs: free absent, critical 5, so every share is at least low.
    SetLimits(kAbsent, kAbsent, kAbsent, 5);
    SetShare(kBbram, 100);
    EXPECT_THAT(Check(),
                ElementsAre(Critical("voice mails", "100.0"), Low("configuration data", "50.0")));
    EXPECT_THAT(Check(), IsEmpty());
    SetShare(kFlash, 4);
    EXPECT_THAT(Check(), ElementsAre(Critical("configuration data", "4.0")));

    // Critical absent: below the free limit is critical at once; at or above it, nothing.
    test::ResetDaemonState();
    SetLimits(10, kAbsent, 10, kAbsent);
    SetShare(kFlash, 50);
    SetShare(kBbram, 10);
    EXPECT_THAT(Check(), IsEmpty());
    SetShare(kBbram, 9);
    EXPECT_THAT(Check(), ElementsAre(Critical("voice mails", "9.0")));
    EXPECT_THAT(Check(), IsEmpty());
}

TEST_F(SpaceCheck, ShareIsTruncatedToAWholePercent) {
    MountSmall(kBbram, "4000k");  // 1000 blocks
    SetFreeBlocks(kBbram, 129);   // 12.9 percent free
    SetLimits(13, 5, 10, 5);
    EXPECT_THAT(Check(), ElementsAre(Low("voice mails", "12.0")));
}

TEST_F(SpaceCheck, MissingFileSystemIsReportedEveryCycleAndKeepsItsState) {
    SetLimits(10, 5, 10, 5);
    SetShare(kBbram, 8);
    EXPECT_THAT(Check(), ElementsAre(Low("voice mails", "8.0")));

    Unmount(kBbram);
    ASSERT_EQ(rmdir(kBbram), 0);
    SetShare(kFlash, 8);
    test::LogCapture log;
    const std::string error =
        "Error: Could not stat filesystem: /mnt/bbram -> 2 = No such file or directory\n";
    EXPECT_THAT(Check(), ElementsAre(Low("configuration data", "8.0")));
    EXPECT_THAT(log.Messages(), ElementsAre(error));
    SetShare(kFlash, 4);
    EXPECT_THAT(Check(), ElementsAre(Critical("configuration data", "4.0")));
    EXPECT_THAT(log.Messages(), ElementsAre(error, error));
    EXPECT_EQ(bbramLowWarned, 1);
    EXPECT_EQ(bbramCriticalWarned, 0);

    // Back, still low: the state survived the missing cycles, so nothing new is raised.
    MountSmall(kBbram, "400k");
    SetShare(kBbram, 8);
    EXPECT_THAT(Check(), IsEmpty());
    EXPECT_THAT(log.Messages(), ElementsAre(error, error));
}

TEST_F(SpaceCheck, FileSystemWithoutBlocksIsSkipped) {
    SetLimits(10, 5, 10, 5);
    SetShare(kBbram, 8);
    EXPECT_THAT(Check(), ElementsAre(Low("voice mails", "8.0")));

    // proc reports no blocks at all; no share can be had from it.
    Unmount(kBbram);
    ASSERT_EQ(mount("/proc", kBbram, nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(FreeShare(kBbram), -1);
    SetShare(kFlash, 8);
    test::LogCapture log;
    EXPECT_THAT(Check(), ElementsAre(Low("configuration data", "8.0")));
    EXPECT_THAT(log.Messages(), IsEmpty());
    EXPECT_EQ(bbramLowWarned, 1);
    EXPECT_EQ(bbramCriticalWarned, 0);

    Unmount(kBbram);
    MountSmall(kBbram, "400k");
    SetShare(kBbram, 4);
    EXPECT_THAT(Check(), ElementsAre(Critical("voice mails", "4.0")));
}

TEST_F(SpaceCheck, WithoutAnEventHandleTheStateStillMoves) {
    SetLimits(10, 5, 10, 5);
    event = nullptr;
    SetShare(kBbram, 8);
    EXPECT_THAT(Check(), IsEmpty());
    EXPECT_EQ(bbramLowWarned, 1);
    event = &registered_;
    EXPECT_THAT(Check(), IsEmpty());
    SetShare(kBbram, 4);
    EXPECT_THAT(Check(), ElementsAre(Critical("voice mails", "4.0")));
}

}  // namespace

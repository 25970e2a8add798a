// Test entry: moves the test process into a private root before any test runs.
// The daemon's paths are fixed, so tests write the real paths, but only inside this root.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/signals.h"

namespace {

void Must(bool ok, const std::string& what) {
    if (!ok) {
        fprintf(stderr, "private root: %s failed: %s\n", what.c_str(), strerror(errno));
        exit(2);
    }
}

void Tmpfs(const char* where, const char* options) {
    Must(mount("tmpfs", where, "tmpfs", 0, options) == 0, std::string("tmpfs on ") + where);
}

// Writes go to a layer under /run; the host's directory is never changed.
void Overlay(const char* where, const char* layer) {
    std::string base = std::string("/run/.unit/") + layer;
    std::string upper = base + "/upper";
    std::string work = base + "/work";
    mkdir("/run/.unit", 0755);
    Must(mkdir(base.c_str(), 0755) == 0 && mkdir(upper.c_str(), 0755) == 0 &&
             mkdir(work.c_str(), 0755) == 0,
         "layer " + base);
    std::string options =
        std::string("lowerdir=") + where + ",upperdir=" + upper + ",workdir=" + work;
    Must(mount("overlay", where, "overlay", 0, options.c_str()) == 0,
         std::string("overlay on ") + where);
}

void EnterPrivateRoot() {
    Must(unshare(CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWNET) == 0, "unshare");
    Must(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, "private mounts");
    Tmpfs("/run", "mode=755");
    Overlay("/etc", "etc");
    Overlay("/usr/bin", "usrbin");
    Overlay("/usr/sbin", "usrsbin");
    Overlay("/dev", "dev");
    Overlay("/tmp", "tmp");
    Tmpfs("/var/log", "mode=755");
    Tmpfs("/mnt", "mode=755");
    Must(system("ip link set lo up") == 0, "lo up");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests)) {
        EnterPrivateRoot();
    }
    // As in the daemon: the handled signals are taken by sigwaitinfo only, never delivered
    // asynchronously, so a timer a test arms cannot end the test process.
    BlockHandledSignals();
    return RUN_ALL_TESTS();
}

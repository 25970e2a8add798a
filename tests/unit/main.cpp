// Test entry of the unit tests: a private root first. The daemon's paths are fixed, so a test
// writes the real paths; overlays and tmpfs keep every such write away from the host.
#include <gtest/gtest.h>
#include <sched.h>

#include <cstdlib>

#include "core/signals.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* privateRoot =
        "mount --make-rprivate / && mount -t tmpfs tmpfs /run && for d in etc usr/bin usr/sbin "
        "dev tmp; do l=/run/.unit/$d; mkdir -p $l/u $l/w && mount -t overlay overlay -o "
        "lowerdir=/$d,upperdir=$l/u,workdir=$l/w /$d || exit 1; done && mount -t tmpfs tmpfs "
        "/var/log && mount -t tmpfs tmpfs /mnt && ip link set lo up";
    if (!testing::GTEST_FLAG(list_tests) &&
        (unshare(CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWNET) != 0 || system(privateRoot) != 0)) {
        return 2;
    }
    // As in the daemon: the handled signals are only ever taken by sigwaitinfo.
    BlockHandledSignals();
    return RUN_ALL_TESTS();
}

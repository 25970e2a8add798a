// Test entry of the unit tests: the voice lock's key is fixed, so they run with System V IPC
// objects of their own and never touch the host's lock.
#include <gtest/gtest.h>
#include <sched.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests) && unshare(CLONE_NEWIPC) != 0)
        return 2;
    return RUN_ALL_TESTS();
}

// Entry of the end-to-end tests: every test builds its own box, which needs root.
// Owns only the check for that and the hand-over to GoogleTest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests) && geteuid() != 0) {
        fprintf(stderr, "The end-to-end tests build namespaces and mounts: run them as root.\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}

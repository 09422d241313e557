// Test entry point: GTK is started once per test program (under a virtual X
// server in CI); listing the tests needs no display.
#include <gtest/gtest.h>

#include <cstring>

#include "gtk_include.h"

int main(int argc, char** argv) {
    // Before InitGoogleTest, which takes its own flags out of argv.
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
    testing::InitGoogleTest(&argc, argv);
    if (!listing && !gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "no display: run the tests under xvfb-run\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}

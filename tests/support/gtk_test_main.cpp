// Test entry point: GTK is started once per test program (under a virtual X
// server in CI); listing the tests needs no display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "gtk_include.h"
#include "test_support.h"

int main(int argc, char** argv) {
    // Before InitGoogleTest, which takes its own flags out of argv.
    bool listing = std::any_of(argv + 1, argv + argc,
                               [](const char* a) { return strcmp(a, "--gtest_list_tests") == 0; });
    testing::InitGoogleTest(&argc, argv);
    if (!listing && !gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "no display: run the tests under xvfb-run\n");
        return 1;
    }
    // The program's style and history files go to a directory of this test program,
    // whatever the environment or the build names: the program run in-process and
    // every program started from here use it. A test program that a test starts
    // again keeps its parent's.
    std::optional<ryt::TempDir> share;
    if (g_getenv("RYX_TEST_SHARE_DIR") == nullptr) {
        share.emplace();
        ryt::write_file(share->file("ryx.rc"), ryt::read_file(RYX_SOURCE_DIR "/share/ryx/ryx.rc"));
        g_setenv("RYX_TEST_SHARE_DIR", share->path().c_str(), TRUE);
    }
    g_setenv("RYX_SHARE_DIR", g_getenv("RYX_TEST_SHARE_DIR"), TRUE);
    return RUN_ALL_TESTS();
}

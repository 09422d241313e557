// The real program on libraries of current versions: WAL files left untouched, and
// libraries held locked by another process.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "libgen_modern.h"
#include "library_files.h"
#include "lock_holder.h"
#include "test_support.h"

namespace {

// Waits until pred() holds, up to timeout_ms.
template <class Pred>
bool wait_for(Pred pred, int timeout_ms) {
    gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!pred()) {
        if (g_get_monotonic_time() > end) return false;
        g_usleep(20 * 1000);
    }
    return true;
}

// Lets the program come up and run its main loop a while, then ends it as the
// platform does.
ryt::RunResult run_then_terminate(ryt::Child& child) {
    g_usleep(1500 * 1000);
    EXPECT_TRUE(child.running()) << "the program ended by itself";
    child.signal(SIGTERM);
    return child.wait();
}

TEST(ProgramOnWalLibrary, LeavesTheLibraryAndItsDirectoryAsTheyWere) {
    ryt::TempDir dir;
    libgen::ModernLibraryBuilder b(dir.path());
    b.add_item({.title = "Quiet Book", .creators = {{"Ann", "Lee"}}});
    b.finish();
    ryt::LibraryFiles before{dir.path(), b.database_path()};
    ryt::Child child({RYX_BINARY, before.path, "0"});
    ryt::RunResult result = run_then_terminate(child);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    before.expect_unchanged();
}

TEST(ProgramOnLockedLibrary, RunsOnASnapshotAndRemovesIt) {
    ryt::TempDir dir, tmp;
    std::string path, sql;
    {
        libgen::ModernLibraryBuilder b(dir.path());
        b.add_item({.title = "Old Book"});
        sql = ryt::insert_book_sql(b.type_id("book"), b.field_id("title"));
        path = b.database_path();
    }
    ryt::LockHolder holder(ryt::exclusive_writer(path, sql));
    ASSERT_TRUE(holder.ok());

    ryt::Child child({RYX_BINARY, path, "0"}, {"TMPDIR=" + tmp.path()});
    EXPECT_TRUE(wait_for([&] { return ryt::names_in(tmp.path()).size() == 1; }, 10000)) << "no snapshot made";
    ryt::RunResult result = run_then_terminate(child);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(ryt::names_in(tmp.path()), std::vector<std::string>{});
}

// A copy of a library that its owner holds is only trusted when it passes SQLite's
// check. A holder whose file is damaged gives no such copy, however often it is
// taken, which is what a torn copy of a busy library looks like to the program.
TEST(ProgramOnLockedLibrary, WithoutAConsistentSnapshotStopsAsLocked) {
    ryt::TempDir dir, tmp;
    std::string path;
    {
        libgen::ModernLibraryBuilder b(dir.path(), {.wal = false});
        for (int i = 0; i < 20; ++i) b.add_item({.title = "Book " + std::to_string(i)});
        path = b.database_path();
    }
    std::string bytes = ryt::read_file(path);
    size_t page = (size_t(uint8_t(bytes[16])) << 8) | uint8_t(bytes[17]);
    ASSERT_GE(bytes.size(), 3 * page);
    std::fill(bytes.begin() + long(page), bytes.begin() + long(2 * page), '\xff');
    ryt::write_file(path, bytes);

    ryt::LockHolder holder(ryt::raw_exclusive_lock(path));
    ASSERT_TRUE(holder.ok());
    ryt::RunResult result = ryt::run({RYX_BINARY, path, "0"}, {"TMPDIR=" + tmp.path()});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("SQL Error: database is locked\n"), std::string::npos) << result.err;
    EXPECT_EQ(ryt::names_in(tmp.path()), std::vector<std::string>{});
    EXPECT_EQ(ryt::read_file(path), bytes);
}

}  // namespace

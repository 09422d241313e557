// The real program's start-up failures and its three ways to end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include "libgen.h"
#include "libgen_modern.h"
#include "main.h"
#include "ry_raii.h"
#include "test_support.h"
#include "x11_support.h"

namespace {

struct FileState {
    std::string bytes;
    struct timespec mtime {};
};

FileState state_of(const std::string& path) {
    FileState s;
    s.bytes = ryt::read_file(path);
    struct stat st;
    if (stat(path.c_str(), &st) == 0) s.mtime = st.st_mtim;
    return s;
}

void expect_unchanged(const FileState& before, const std::string& path) {
    FileState after = state_of(path);
    EXPECT_TRUE(after.bytes == before.bytes) << path << " changed";
    EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec);
    EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec);
}

class StartupTest : public testing::Test {
  protected:
    void SetUp() override {
        libgen::ClassicLibraryBuilder lib(dir.path());
        int item = lib.add_item({.title = "The Art of Listing", .creators = {{"Ann", "Lee"}}});
        lib.add_attachment(
            {.parent = item, .mime_type = "application/pdf", .file = "art.pdf", .contents = "%PDF-1.4"});
        lib.add_tag("paper");
        lib.finish();
        library = lib.database_path();
    }
    ryt::TempDir dir;
    std::string library;
};

}  // namespace

TEST(StartupFailure, NoArgumentPrintsUsage) {
    auto r = ryt::run({RYX_BINARY});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, std::string("Usage: ") + RYX_BINARY + " DATABASENAME metadbflag \n");
}

TEST(StartupFailure, MissingFileIsNotCreated) {
    ryt::TempDir dir;
    std::string missing = dir.file("none.sqlite");
    auto r = ryt::run({RYX_BINARY, missing});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "Can't open database: unable to open database file\n");
    EXPECT_FALSE(ryt::file_exists(missing));
    EXPECT_TRUE(ryt::files_in(dir.path()).empty());
}

TEST(StartupFailure, NotADatabase) {
    ryt::TempDir dir;
    std::string path = dir.file("notes.txt");
    ryt::write_file(path, "These are not the tables you are looking for.\n");
    FileState before = state_of(path);
    auto r = ryt::run({RYX_BINARY, path});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "SQL Error: file is not a database\n");
    expect_unchanged(before, path);
}

TEST(StartupFailure, DatabaseOfAnotherSchema) {
    ryt::TempDir dir;
    std::string path = dir.file("other.sqlite");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE items(itemID INTEGER PRIMARY KEY, name TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    FileState before = state_of(path);
    auto r = ryt::run({RYX_BINARY, path});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind("SQL Error: no such table: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    expect_unchanged(before, path);
}

TEST_F(StartupTest, LibraryMissingOneTableIsRefused) {
    sqlite3* db = nullptr;
    sqlite3_open(library.c_str(), &db);
    sqlite3_exec(db, "DROP TABLE itemTags", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    auto r = ryt::run({RYX_BINARY, library});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "SQL Error: no such table: main.itemTags\n");
}

// Never blocked by what stands at the library's or the history's path, and told why.
TEST_F(StartupTest, SpecialFilesAndAnUnusableTemporaryDirectory) {
    const std::string history = ry_share_file("ryx.history");
    std::string fifo = dir.file("fifo"), empty = dir.file("empty"), file = dir.file("file");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ryt::write_file(empty, "");
    ryt::write_file(file, "");
    const struct {
        std::string library, history_fifo, tmpdir, err;
        int status;
    } cases[] = {
        {fifo, "", "", fifo + " is a FIFO, not a library file", 1},
        {dir.path(), "", "", dir.path() + " is a directory, not a library file", 1},
        {"/dev/null", "", "", "/dev/null is a device, not a library file", 1},
        {empty, "", "", empty + " is an empty file, not a library", 1},
        {library, "", file, "the temporary directory " + file + " cannot hold a snapshot: Not a directory",
         1},
        {library, "fifo", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        if (!c.history_fifo.empty()) {
            ASSERT_EQ(mkfifo(history.c_str(), 0600), 0);
        }
        // A log beside the library makes the program read it from a snapshot.
        if (!c.tmpdir.empty()) ryt::write_file(library + "-wal", "");
        ryt::Child child({RYX_BINARY, c.library, "0"},
                         {"TMPDIR=" + (c.tmpdir.empty() ? dir.path() : c.tmpdir)});
        if (c.status == 0) {
            ASSERT_NE(ryt::wait_for_window_of(child.pid()), 0u);
            child.signal(SIGTERM);
        }
        auto r = child.wait(5000);
        EXPECT_EQ(r.exit_status, c.status) << r.err;
        if (c.status != 0) {
            EXPECT_EQ(r.err, "Can't open database: " + c.err + "\n");
        }
        if (!c.history_fifo.empty()) {
            struct stat st;
            EXPECT_TRUE(stat(history.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
                << "the history FIFO is left";
        }
        ryt::remove_tree(history);
        ryt::remove_tree(library + "-wal");
    }
}

// A relative path, or one beginning with "//", to a library in WAL mode opens.
TEST(StartupPaths, RelativeAndDoubleSlashPathsOpen) {
    ryt::TempDir dir;
    libgen::ModernLibraryBuilder lib(dir.path());
    lib.add_item({.title = "Atlas"});
    lib.finish();
    // As many "../" as the working directory is deep lead to the root.
    const std::string cwd = ry::gchar_ptr(g_get_current_dir()).get();
    std::string relative;
    for (char c : cwd) relative += c == '/' ? "../" : "";
    for (const std::string& path : {relative + lib.database_path().substr(1), "/" + lib.database_path()}) {
        ryt::Child child({RYX_BINARY, path, "0"});
        ASSERT_NE(ryt::wait_for_window_of(child.pid()), 0u) << path;
        child.signal(SIGTERM);
        auto r = child.wait();
        EXPECT_EQ(r.exit_status, 0) << path << r.err;
    }
}

// Also without its style file, which it names in one line on standard error.
TEST_F(StartupTest, CloseRequestEndsCleanly) {
    FileState before = state_of(library);
    for (bool styled : {true, false}) {
        ryt::Child child({RYX_BINARY, library},
                         {"RYX_SHARE_DIR=" + (styled ? std::string(g_getenv("RYX_SHARE_DIR")) : dir.path())});
        unsigned long window = ryt::wait_for_window_of(child.pid());
        ASSERT_NE(window, 0u);
        ryt::send_close_request(window);
        auto r = child.wait();
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.err,
                  styled ? "" : "ryx: no style file " + dir.file("ryx.rc") + ": using GTK's default look\n");
    }
    expect_unchanged(before, library);
}

// The real program's start: what it refuses and why, and a library that another
// process holds locked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>

#include "libgen.h"
#include "libgen_modern.h"
#include "library_files.h"
#include "lock_holder.h"
#include "test_support.h"
#include "x11_support.h"

namespace {

// Names, times and (of regular files) contents of what lies in a directory.
std::string listing(const std::string& dir) {
    std::string out;
    for (const std::string& name : ryt::files_in(dir)) {
        struct stat st {};
        lstat((dir + "/" + name).c_str(), &st);
        out += name + " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
               " " + (S_ISREG(st.st_mode) ? ryt::read_file(dir + "/" + name) : "") + "\n";
    }
    return out;
}

void exec_sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

// Refused with status 1 and one line that says why, every file left as it was.
TEST(ProgramStart, RefusesWhatIsNoLibrary) {
    ryt::TempDir dir, tmp;
    libgen::ClassicLibraryBuilder lib(dir.file("lib"));
    lib.add_item({.title = "The Art of Listing", .creators = {{"Ann", "Lee"}}});
    lib.add_tag("paper");
    lib.finish();
    const std::string library = lib.database_path(), notags = dir.file("notags.sqlite"),
                      other = dir.file("other.sqlite"), notes = dir.file("notes.txt"),
                      fifo = dir.file("fifo"), empty = dir.file("empty"), missing = dir.file("none.sqlite");
    ryt::write_file(notags, ryt::read_file(library));
    exec_sql(notags, "DROP TABLE itemTags");
    exec_sql(other, "CREATE TABLE items(itemID INTEGER PRIMARY KEY, name TEXT)");
    ryt::write_file(notes, "These are not the tables you are looking for.\n");
    ryt::write_file(empty, "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A log beside the library makes the program read it from a snapshot.
    ryt::write_file(library + "-wal", "");
    // A copy of a library that its owner holds is only trusted when it passes SQLite's
    // check. A holder whose file is damaged gives no such copy, however often it is
    // taken, which is what a torn copy of a busy library looks like to the program.
    std::string torn;
    {
        libgen::ModernLibraryBuilder b(dir.file("torn"), {.wal = false});
        for (int i = 0; i < 20; ++i) b.add_item({.title = "Book " + std::to_string(i)});
        torn = b.database_path();
    }
    std::string bytes = ryt::read_file(torn);
    size_t page = (size_t(uint8_t(bytes[16])) << 8) | uint8_t(bytes[17]);
    ASSERT_GE(bytes.size(), 3 * page);
    std::fill(bytes.begin() + long(page), bytes.begin() + long(2 * page), '\xff');
    ryt::write_file(torn, bytes);
    ryt::LockHolder holder(ryt::raw_exclusive_lock(torn));
    ASSERT_TRUE(holder.ok());
    const std::string open_error = "Can't open database: ";
    const struct {
        std::vector<std::string> args;
        std::string tmpdir, err;
    } cases[] = {
        {{}, "", std::string("Usage: ") + RYX_BINARY + " DATABASENAME metadbflag \n"},
        {{missing}, "", open_error + "unable to open database file\n"},
        {{notes}, "", "SQL Error: file is not a database\n"},
        {{other}, "", "SQL Error: no such table: listedItems\n"},
        {{notags, "0"}, "", "SQL Error: no such table: main.itemTags\n"},
        {{fifo, "0"}, "", open_error + fifo + " is a FIFO, not a library file\n"},
        {{dir.path(), "0"}, "", open_error + dir.path() + " is a directory, not a library file\n"},
        {{"/dev/null", "0"}, "", open_error + "/dev/null is a device, not a library file\n"},
        {{empty, "0"}, "", open_error + empty + " is an empty file, not a library\n"},
        {{library, "0"},
         notes,
         open_error + "the temporary directory " + notes + " cannot hold a snapshot: Not a directory\n"},
        {{torn, "0"}, "", "SQL Error: database is locked\n"},
    };
    const std::string before = listing(dir.path()) + listing(dir.file("lib")) + listing(dir.file("torn"));
    for (const auto& c : cases) {
        std::vector<std::string> argv{RYX_BINARY};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        auto r = ryt::run(argv, {"TMPDIR=" + (c.tmpdir.empty() ? tmp.path() : c.tmpdir)}, 5000);
        EXPECT_EQ(r.exit_status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(listing(dir.path()) + listing(dir.file("lib")) + listing(dir.file("torn")), before);
    EXPECT_TRUE(ryt::files_in(tmp.path()).empty());
}

TEST(ProgramStart, OnALockedLibraryRunsOnASnapshotAndRemovesIt) {
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
    ASSERT_NE(ryt::wait_for_window_of(child.pid()), 0u);
    EXPECT_EQ(ryt::files_in(tmp.path()).size(), 1u) << "no snapshot made";
    child.signal(SIGTERM);
    auto r = child.wait();
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(ryt::files_in(tmp.path()).empty());
}

}  // namespace

// The per-directory metadata database on real directories, read back with SQLite itself.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ermetadb.h"
#include "ry_raii.h"
#include "test_support.h"

namespace {

struct GStringFree {
    void operator()(GString* s) const { g_string_free(s, TRUE); }
};
using gstring_ptr = std::unique_ptr<GString, GStringFree>;

gstring_ptr gs(const std::string& s) { return gstring_ptr(g_string_new(s.c_str())); }

struct MetadbFree {
    void operator()(erMetadb* m) const { ermetadb_free_impl(m); }
};
using metadb_ptr = std::unique_ptr<erMetadb, MetadbFree>;

std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
        while (const gchar* name = g_dir_read_name(d)) names.insert(name);
        g_dir_close(d);
    }
    return names;
}

using Row = std::tuple<std::string, gint64, gint64, gint64>;

std::vector<Row> documents(const std::string& dir) {
    std::vector<Row> rows;
    sqlite3* raw = nullptr;
    sqlite3_open_v2((dir + "/" ERMETADB_FILE_NAME).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    ry::unique_db db(raw);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db.get(),
                                 "SELECT filename, size, modified, added FROM documents ORDER BY filename",
                                 -1, &s, nullptr),
              SQLITE_OK);
    ry::unique_stmt stmt(s);
    while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW)
        rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)),
                          sqlite3_column_int64(stmt.get(), 1), sqlite3_column_int64(stmt.get(), 2),
                          sqlite3_column_int64(stmt.get(), 3));
    return rows;
}

int open_fds() { return int(entries("/proc/self/fd").size()); }

// Runs f as an unprivileged user when we are root, so that file permissions count.
int unprivileged(const std::function<int()>& f) {
    if (geteuid() != 0) return f();
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        _exit(f());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ErmetadbOpen, ReadonlyFindsNothingAndCreatesNothingWithoutADatabase) {
    ryt::TempDir dir;
    metadb_ptr db(ermetadb_new());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.path()).get()), ER_NOT_FOUND);
    EXPECT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_NOT_FOUND);
    EXPECT_TRUE(entries(dir.path()).empty());
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.file("missing")).get()), ER_NOT_FOUND);
    EXPECT_FALSE(ryt::file_exists(dir.file("missing")));
}

TEST(ErmetadbOpen, OpensWhatWasCreatedOncePerHandle) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    metadb_ptr db(ermetadb_new());
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.path()).get()), ER_OK);
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.path()).get()), ER_FAIL);
    EXPECT_EQ(ermetadb_close_database(db.get()), ER_OK);
    EXPECT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_OK);
    EXPECT_EQ(ermetadb_close_database(db.get()), ER_OK);
}

TEST(ErmetadbOpen, SomethingElseUnderTheNameIsInvalidDataAndLeftAlone) {
    ryt::TempDir dir;
    ryt::write_file(dir.file(ERMETADB_FILE_NAME), "not a database, just some text that is long enough\n");
    metadb_ptr db(ermetadb_new());
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.path()).get()), ER_INVALID_DATA);
    EXPECT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_INVALID_DATA);
    EXPECT_EQ(ryt::read_file(dir.file(ERMETADB_FILE_NAME)),
              "not a database, just some text that is long enough\n");

    // An SQLite file of someone else's.
    ryt::TempDir other;
    sqlite3* raw = nullptr;
    sqlite3_open((other.file(ERMETADB_FILE_NAME)).c_str(), &raw);
    ry::unique_db foreign(raw);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(other.path()).get()), ER_INVALID_DATA);

    ryt::TempDir third;
    ASSERT_EQ(mkdir(third.file(ERMETADB_FILE_NAME).c_str(), 0755), 0);
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(third.path()).get()), ER_INVALID_DATA);
}

TEST(ErmetadbOpen, WriteProtectedDatabaseOpensOnlyForReading) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    ASSERT_EQ(chmod(dir.file(ERMETADB_FILE_NAME).c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string path = dir.path();
    int rc = unprivileged([&] {
        metadb_ptr db(ermetadb_new());
        int readonly = ermetadb_open_database_readonly(db.get(), gs(path).get());
        ermetadb_close_database(db.get());
        int writable = ermetadb_open_database(db.get(), gs(path).get());
        return readonly == ER_OK && writable == ER_READONLY ? 0 : 1 + readonly * 16 + writable;
    });
    EXPECT_EQ(rc, 0);
}

TEST(ErmetadbCreate, MakesAnEmptyDatabaseInTheDirectory) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{ERMETADB_FILE_NAME});
    EXPECT_TRUE(documents(dir.path()).empty());
}

TEST(ErmetadbCreate, NeverReplacesAnExistingDatabase) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    metadb_ptr db(ermetadb_new());
    ASSERT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_OK);
    ASSERT_EQ(ermetadb_add_document(db.get(), gs("paper.pdf").get(), 10, 20), ER_OK);
    ASSERT_EQ(ermetadb_close_database(db.get()), ER_OK);

    EXPECT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_FAIL);
    ASSERT_EQ(documents(dir.path()).size(), 1u);
    EXPECT_EQ(std::get<0>(documents(dir.path())[0]), "paper.pdf");
}

TEST(ErmetadbCreate, MissingOrUnwritableDirectoryLeavesNothingBehind) {
    ryt::TempDir dir;
    EXPECT_EQ(ermetadb_create_database(gs(dir.file("missing")).get()), ER_NOT_FOUND);
    EXPECT_FALSE(ryt::file_exists(dir.file("missing")));
    ryt::write_file(dir.file("plain"), "x");
    EXPECT_EQ(ermetadb_create_database(gs(dir.file("plain")).get()), ER_NOT_FOUND);

    std::string locked = dir.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(unprivileged([&] { return ermetadb_create_database(gs(locked).get()); }), ER_WRITE_ERROR);
    EXPECT_TRUE(entries(locked).empty());
}

TEST(ErmetadbDocuments, AddRecordsSizeAndTimeAndUpdatesKeepFirstAdded) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    metadb_ptr db(ermetadb_new());
    ASSERT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_OK);
    gint64 before = g_get_real_time() / G_USEC_PER_SEC;
    // Beyond 32 bits on both counts.
    const gint64 big_size = 5000000000LL, late_time = 4102444800LL;
    ASSERT_EQ(ermetadb_add_document(db.get(), gs("a paper é.pdf").get(), big_size, late_time), ER_OK);
    ASSERT_EQ(ermetadb_add_document(db.get(), gs("b.epub").get(), 0, 1), ER_OK);
    gint64 after = g_get_real_time() / G_USEC_PER_SEC;

    auto rows = documents(dir.path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::get<0>(rows[0]), "a paper é.pdf");
    EXPECT_EQ(std::get<1>(rows[0]), big_size);
    EXPECT_EQ(std::get<2>(rows[0]), late_time);
    gint64 added = std::get<3>(rows[0]);
    EXPECT_GE(added, before);
    EXPECT_LE(added, after);

    ASSERT_EQ(ermetadb_add_document(db.get(), gs("a paper é.pdf").get(), 7, 8), ER_OK);
    rows = documents(dir.path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], Row("a paper é.pdf", 7, 8, added));
    EXPECT_EQ(ermetadb_close_database(db.get()), ER_OK);
}

TEST(ErmetadbDocuments, AddNeedsADatabaseOpenForWriting) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    metadb_ptr db(ermetadb_new());
    EXPECT_EQ(ermetadb_add_document(db.get(), gs("x.pdf").get(), 1, 1), ER_FAIL);
    ASSERT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.path()).get()), ER_OK);
    EXPECT_EQ(ermetadb_add_document(db.get(), gs("x.pdf").get(), 1, 1), ER_READONLY);
    ASSERT_EQ(ermetadb_close_database(db.get()), ER_OK);
    EXPECT_EQ(ermetadb_add_document(db.get(), gs("x.pdf").get(), 1, 1), ER_FAIL);
    EXPECT_TRUE(documents(dir.path()).empty());
}

TEST(ErmetadbParameters, InvalidArgumentsAreRefused) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    metadb_ptr db(ermetadb_new());
    auto empty = gs("");
    EXPECT_EQ(ermetadb_open_database_readonly(nullptr, gs(dir.path()).get()), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), nullptr), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), empty.get()), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_open_database(nullptr, gs(dir.path()).get()), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_create_database(nullptr), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_create_database(empty.get()), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_close_database(nullptr), ER_INVALID_PARAMETER);
    ASSERT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_OK);
    EXPECT_EQ(ermetadb_add_document(nullptr, gs("x").get(), 1, 1), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_add_document(db.get(), nullptr, 1, 1), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_add_document(db.get(), empty.get(), 1, 1), ER_INVALID_PARAMETER);
    EXPECT_EQ(ermetadb_add_document(db.get(), gs("x").get(), -1, 1), ER_INVALID_PARAMETER);
    EXPECT_TRUE(documents(dir.path()).empty());
}

TEST(ErmetadbClose, CloseNeedsAnOpenDatabaseAndFreeClosesOne) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    erMetadb* db = ermetadb_new();
    EXPECT_EQ(ermetadb_close_database(db), ER_FAIL);
    int fds = open_fds();
    ASSERT_EQ(ermetadb_open_database(db, gs(dir.path()).get()), ER_OK);
    ASSERT_EQ(ermetadb_add_document(db, gs("x.pdf").get(), 3, 4), ER_OK);
    EXPECT_GT(open_fds(), fds);
    ermetadb_free_impl(db);
    EXPECT_EQ(open_fds(), fds);
    auto rows = documents(dir.path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::get<0>(rows[0]), "x.pdf");
    EXPECT_EQ(std::get<1>(rows[0]), 3);
    EXPECT_EQ(std::get<2>(rows[0]), 4);
    ermetadb_free_impl(nullptr);
}

}  // namespace

// The per-directory metadata database on real directories, read back with SQLite itself.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <tuple>
#include <vector>

#include "ermetadb.h"
#include "ry_raii.h"
#include "test_support.h"

namespace {

using ry::gstring_ptr;
using ry::metadb_ptr;
gstring_ptr gs(const std::string& s) { return gstring_ptr(g_string_new(s.c_str())); }

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

// A database we cannot read must not look missing: the program would then try to make one.
TEST(Ermetadb, SomethingElseUnderTheNameIsNotMissingAndLeftAlone) {
    ryt::TempDir dir;
    ryt::write_file(dir.file(ERMETADB_FILE_NAME), "not a database, just some text that is long enough\n");
    metadb_ptr db(ermetadb_new());
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), gs(dir.path()).get()), ER_INVALID_DATA);
    EXPECT_NE(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    EXPECT_EQ(ryt::read_file(dir.file(ERMETADB_FILE_NAME)),
              "not a database, just some text that is long enough\n");
}

TEST(Ermetadb, AddRecordsSizeAndTimeAndCreateNeverReplaces) {
    ryt::TempDir dir;
    ASSERT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_OK);
    metadb_ptr db(ermetadb_new());
    ASSERT_EQ(ermetadb_open_database(db.get(), gs(dir.path()).get()), ER_OK);
    gint64 before = g_get_real_time() / G_USEC_PER_SEC;
    // Beyond 32 bits on both counts.
    ASSERT_EQ(ermetadb_add_document(db.get(), gs("a paper é.pdf").get(), 5000000000LL, 4102444800LL), ER_OK);
    ASSERT_EQ(ermetadb_add_document(db.get(), gs("b.epub").get(), 0, 1), ER_OK);
    gint64 after = g_get_real_time() / G_USEC_PER_SEC;
    EXPECT_EQ(ermetadb_close_database(db.get()), ER_OK);

    EXPECT_EQ(ermetadb_create_database(gs(dir.path()).get()), ER_FAIL);
    auto rows = documents(dir.path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::get<0>(rows[0]), "a paper é.pdf");
    EXPECT_EQ(std::get<1>(rows[0]), 5000000000LL);
    EXPECT_EQ(std::get<2>(rows[0]), 4102444800LL);
    EXPECT_GE(std::get<3>(rows[0]), before);
    EXPECT_LE(std::get<3>(rows[0]), after);
    EXPECT_EQ(rows[1], Row("b.epub", 0, 1, std::get<3>(rows[1])));
}

}  // namespace

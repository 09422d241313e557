// Libraries as the tests meet them: the catalogue prepared over one as the program
// opens it, what lies beside one on disk, and the write another process makes while
// it holds a library locked.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "ry_library.h"
#include "ry_raii.h"
#include "ry_sql.h"
#include "test_support.h"

namespace ryt {

inline std::vector<std::string> names_in(const std::string& dir) { return files_in(dir); }

// A result row: an id and up to three texts ("<null>" for NULL, "" past the last column).
using Row = std::tuple<int, std::string, std::string, std::string>;
using Rows = std::vector<Row>;
// Values by parameter number; parameters not given stay NULL.
using Bindings = std::map<int, std::variant<int, std::string>>;

inline Rows rows_of(sqlite3_stmt* s, const Bindings& bindings = {}) {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    for (const auto& [n, value] : bindings) {
        if (const int* i = std::get_if<int>(&value))
            sqlite3_bind_int(s, n, *i);
        else
            sqlite3_bind_text(s, n, std::get<std::string>(value).c_str(), -1, SQLITE_TRANSIENT);
    }
    auto text = [s](int c) -> std::string {
        if (c >= sqlite3_column_count(s)) return "";
        const unsigned char* t = sqlite3_column_text(s, c);
        return t ? reinterpret_cast<const char*>(t) : "<null>";
    };
    Rows rows;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        rows.emplace_back(sqlite3_column_int(s, 0), text(1), text(2), text(3));
    EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_sql(s);
    sqlite3_reset(s);
    return rows;
}

// A library opened as the program opens it, with the catalogue prepared.
class Catalogue {
  public:
    explicit Catalogue(const std::string& path) {
        if (ry_open_library(path.c_str(), &db_) == SQLITE_OK) ok_ = ry_sql_try_prepare(db_, statements_);
    }
    ~Catalogue() {
        for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
        ry_close_library();
    }
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;
    bool ok() const { return ok_; }
    sqlite3* db() const { return db_; }
    sqlite3_stmt* operator[](int kind) const { return statements_[kind]; }
    Rows run(int kind, const Bindings& bindings) { return rows_of(statements_[kind], bindings); }
    // The rows of any text on the same connection.
    Rows query(const std::string& sql) {
        sqlite3_stmt* raw = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
        ry::unique_stmt s(raw);
        return s ? rows_of(s.get()) : Rows{};
    }

  private:
    sqlite3* db_ = nullptr;
    bool ok_ = false;
    sqlite3_stmt* statements_[ZLAST] = {};
};

// The entries of a library's directory, the library's bytes and time, and its log's bytes.
struct LibraryFiles {
    std::string dir, path;
    std::vector<std::string> names = names_in(dir);
    std::string bytes = read_file(path), log = read_file(path + "-wal");
    struct stat st = {};
    bool exists = stat(path.c_str(), &st) == 0;
    void expect_unchanged() const {
        LibraryFiles now{dir, path};
        EXPECT_EQ(now.names, names);
        EXPECT_TRUE(now.exists && exists);
        EXPECT_TRUE(now.bytes == bytes) << "the library was written";
        EXPECT_TRUE(now.log == log) << "the log was written";
        EXPECT_TRUE(now.st.st_mtim.tv_sec == st.st_mtim.tv_sec &&
                    now.st.st_mtim.tv_nsec == st.st_mtim.tv_nsec);
    }
};

// A transaction adding the item "Newest Locked Book" of the given type to a library.
inline std::string insert_book_sql(int type, int title_field, const char* library = "1") {
    return "BEGIN; INSERT INTO itemDataValues (value) VALUES ('Newest Locked Book'); INSERT INTO items "
           "(itemTypeID, libraryID, key) VALUES (" +
           std::to_string(type) + ", " + library +
           ", 'LOCKED01'); INSERT INTO itemData VALUES (last_insert_rowid(), " + std::to_string(title_field) +
           ", (SELECT valueID FROM itemDataValues WHERE value='Newest Locked Book')); COMMIT;";
}

}  // namespace ryt

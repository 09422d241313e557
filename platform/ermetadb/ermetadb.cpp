// The per-directory metadata database: one SQLite file in the directory that records the
// documents found there.
#include "ermetadb.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "ry_raii.h"

namespace {

constexpr int kSchemaVersion = 1;

using db_ptr = ry::unique_db;
using stmt_ptr = ry::unique_stmt;

bool valid_name(const GString* s) { return s && s->len > 0 && s->str[0] != '\0'; }

std::string database_path(const GString* directory) {
    return std::string(directory->str) + "/" + ERMETADB_FILE_NAME;
}

// Whether the open file is a database of ours: ER_OK, ER_INVALID_DATA or a read failure.
int check_schema(sqlite3* db) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &raw, nullptr);
    stmt_ptr version(raw);
    if (rc == SQLITE_OK) rc = sqlite3_step(version.get());
    if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) return ER_INVALID_DATA;
    if (rc == SQLITE_NOMEM) return ER_OUT_OF_MEMORY;
    if (rc != SQLITE_ROW) return ER_OPEN_ERROR;
    if (sqlite3_column_int(version.get(), 0) != kSchemaVersion) return ER_INVALID_DATA;
    raw = nullptr;
    rc = sqlite3_prepare_v2(db, "SELECT filename, size, modified, added FROM documents LIMIT 0", -1, &raw,
                            nullptr);
    stmt_ptr columns(raw);
    return rc == SQLITE_OK ? ER_OK : ER_INVALID_DATA;
}

}  // namespace

struct erMetadb {
    db_ptr db;
    bool readonly = false;
};

namespace {

int open_database(erMetadb* metadb, const GString* directory, bool writable) {
    if (!metadb || !valid_name(directory)) return ER_INVALID_PARAMETER;
    if (metadb->db) return ER_FAIL;
    std::string path = database_path(directory);
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ER_NOT_FOUND : ER_OPEN_ERROR;
    if (!S_ISREG(st.st_mode)) return ER_INVALID_DATA;

    // Never SQLITE_OPEN_CREATE: a directory without a database stays without one.
    sqlite3* raw = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &raw, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
    db_ptr db(raw);
    if (rc == SQLITE_NOMEM || !db) return ER_OUT_OF_MEMORY;
    if (rc != SQLITE_OK) return ER_OPEN_ERROR;
    // SQLite falls back to reading alone when the file is write-protected.
    if (writable && sqlite3_db_readonly(db.get(), "main") == 1) return ER_READONLY;
    int checked = check_schema(db.get());
    if (checked != ER_OK) return checked;
    sqlite3_busy_timeout(db.get(), 2000);
    metadb->db = std::move(db);
    metadb->readonly = !writable;
    return ER_OK;
}

}  // namespace

erMetadb* ermetadb_new(void) { return std::make_unique<erMetadb>().release(); }

int ermetadb_open_database_readonly(erMetadb* metadb, const GString* directory) {
    return open_database(metadb, directory, false);
}

int ermetadb_open_database(erMetadb* metadb, const GString* directory) {
    return open_database(metadb, directory, true);
}

int ermetadb_create_database(const GString* directory) {
    if (!valid_name(directory)) return ER_INVALID_PARAMETER;
    struct stat st;
    if (stat(directory->str, &st) != 0 || !S_ISDIR(st.st_mode)) return ER_NOT_FOUND;
    std::string path = database_path(directory);

    // O_EXCL makes "never replace an existing database" hold even against a racing creator.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return ER_FAIL;
        if (errno == ENOENT || errno == ENOTDIR) return ER_NOT_FOUND;
        return ER_WRITE_ERROR;
    }
    close(fd);

    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db_ptr db(raw);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db.get(),
                          "BEGIN;"
                          "CREATE TABLE documents (filename TEXT PRIMARY KEY NOT NULL,"
                          " size INTEGER NOT NULL, modified INTEGER NOT NULL, added INTEGER NOT NULL);"
                          "PRAGMA user_version = 1;"
                          "COMMIT;",
                          nullptr, nullptr, nullptr);
    db.reset();
    if (rc != SQLITE_OK) {
        // Leave no half-made database that would later be taken for a good one.
        unlink(path.c_str());
        unlink((path + "-journal").c_str());
        return rc == SQLITE_NOMEM ? ER_OUT_OF_MEMORY : ER_WRITE_ERROR;
    }
    return ER_OK;
}

int ermetadb_add_document(erMetadb* metadb, const GString* filename, gint64 size, gint64 time_modified) {
    if (!metadb || !valid_name(filename) || size < 0) return ER_INVALID_PARAMETER;
    if (!metadb->db) return ER_FAIL;
    if (metadb->readonly) return ER_READONLY;
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(metadb->db.get(),
                                "INSERT INTO documents (filename, size, modified, added)"
                                " VALUES (?1, ?2, ?3, ?4) ON CONFLICT (filename) DO UPDATE"
                                " SET size = excluded.size, modified = excluded.modified",
                                -1, &raw, nullptr);
    stmt_ptr stmt(raw);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(stmt.get(), 1, filename->str, int(filename->len), SQLITE_TRANSIENT);
        sqlite3_bind_int64(stmt.get(), 2, size);
        sqlite3_bind_int64(stmt.get(), 3, time_modified);
        sqlite3_bind_int64(stmt.get(), 4, g_get_real_time() / G_USEC_PER_SEC);
        rc = sqlite3_step(stmt.get());
    }
    if (rc == SQLITE_NOMEM) return ER_OUT_OF_MEMORY;
    return rc == SQLITE_DONE ? ER_OK : ER_WRITE_ERROR;
}

int ermetadb_close_database(erMetadb* metadb) {
    if (!metadb) return ER_INVALID_PARAMETER;
    if (!metadb->db) return ER_FAIL;
    metadb->db.reset();
    metadb->readonly = false;
    return ER_OK;
}

void ermetadb_free_impl(erMetadb* metadb) { std::unique_ptr<erMetadb> owner(metadb); }

// Opening the library database read-only. Current versions of the reference
// manager keep the file in WAL mode and hold it locked while they run; the
// reader must neither disturb them nor leave -wal or -shm files on the card.
#include "ry_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gtk_include.h"
#include "ry_raii.h"

namespace {

std::string snapshot_dir;

// SQLite's unix locking: a writer in exclusive mode holds a write lock on this range.
constexpr off_t kSharedFirst = 0x40000000 + 2;
constexpr off_t kSharedSize = 510;
constexpr int kSnapshotTries = 5;

bool locked_exclusively_by_another(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kSharedFirst;
    lock.l_len = kSharedSize;
    bool locked = fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return locked;
}

off_t file_size(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Bytes 18 and 19 of the header are 2 in a database in WAL mode.
bool in_wal_mode(const char* path) {
    unsigned char header[20];
    FILE* f = fopen(path, "rb");
    if (f == nullptr) return false;
    bool wal = fread(header, 1, sizeof header, f) == sizeof header && header[18] == 2 && header[19] == 2;
    fclose(f);
    return wal;
}

std::string uri_escaped(const char* path) {
    std::string out;
    for (const char* p = path; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7f) {
            char buf[4];
            snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool copy_file(const std::string& from, const std::string& to) {
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(from.c_str(), &contents, &length, nullptr)) return false;
    ry::gchar_ptr owned(contents);
    return g_file_set_contents(to.c_str(), contents, static_cast<gssize>(length), nullptr);
}

void remove_snapshot() {
    if (snapshot_dir.empty()) return;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        unlink((snapshot_dir + "/library.sqlite" + suffix).c_str());
    rmdir(snapshot_dir.c_str());
    snapshot_dir.clear();
}

bool quick_check_ok(sqlite3* db) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &raw, nullptr) != SQLITE_OK) return false;
    ry::unique_stmt stmt(raw);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
    const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
    return text != nullptr && g_strcmp0(reinterpret_cast<const char*>(text), "ok") == 0;
}

// Copies the library (with its log and journal) into a private directory and
// opens the copy, which SQLite may then recover freely. Tries a few times, since
// a copy taken while the owner writes can be torn.
int open_snapshot(const char* path, sqlite3** db) {
    for (int attempt = 0; attempt < kSnapshotTries; ++attempt) {
        if (attempt > 0) g_usleep(200 * 1000);
        gchar* dir = g_dir_make_tmp("ryx-snapshot-XXXXXX", nullptr);
        if (dir == nullptr) break;
        snapshot_dir = dir;
        g_free(dir);
        std::string copy = snapshot_dir + "/library.sqlite";
        bool copied = copy_file(path, copy);
        for (const char* suffix : {"-wal", "-journal"}) {
            std::string side = std::string(path) + suffix;
            if (copied && file_size(side) > 0) copied = copy_file(side, copy + suffix);
        }
        if (copied && sqlite3_open_v2(copy.c_str(), db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_exec(*db, "PRAGMA query_only=1", nullptr, nullptr, nullptr) == SQLITE_OK &&
            quick_check_ok(*db))
            return SQLITE_OK;
        sqlite3_close(*db);
        *db = nullptr;
        remove_snapshot();
    }
    // Keep a handle so that the caller can read the message and close it.
    sqlite3_open_v2(":memory:", db, SQLITE_OPEN_READONLY, nullptr);
    return SQLITE_BUSY;
}

int open_in_place(const char* path, sqlite3** db) {
    if (!in_wal_mode(path)) return sqlite3_open_v2(path, db, SQLITE_OPEN_READONLY, nullptr);
    // Nobody writes it and its log is empty: immutable keeps SQLite from creating
    // the -wal and -shm files that a WAL reader otherwise needs.
    std::string uri = "file:" + uri_escaped(path) + "?immutable=1";
    return sqlite3_open_v2(uri.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
}

}  // namespace

int ry_open_library(const char* path, sqlite3** db) {
    *db = nullptr;
    int rc;
    if (locked_exclusively_by_another(path) || file_size(std::string(path) + "-wal") > 0)
        rc = open_snapshot(path, db);
    else
        rc = open_in_place(path, db);
    // A library of another shape is left alone: preparing the catalogue reports it.
    if (rc == SQLITE_OK && ry_detect_schema(*db) == ry_schema::modern) ry_create_modern_views(*db);
    return rc;
}

void ry_close_library() { remove_snapshot(); }

const std::string& ry_snapshot_dir() { return snapshot_dir; }

// ---- Modern libraries under the classic names ----

namespace {

bool has_table(sqlite3* db, const char* table) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name=?1", -1, &raw,
                       nullptr);
    ry::unique_stmt stmt(raw);
    sqlite3_bind_text(stmt.get(), 1, table, -1, SQLITE_STATIC);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

bool has_column(sqlite3* db, const char* table, const char* column) {
    return sqlite3_table_column_metadata(db, "main", table, column, nullptr, nullptr, nullptr, nullptr,
                                         nullptr) == SQLITE_OK;
}

// The ids of the named rows, or none; names are looked up, since a library
// created fresh numbers its types and fields differently from an upgraded one.
std::vector<int> ids_of(sqlite3* db, const char* sql) {
    std::vector<int> ids;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return ids;
    ry::unique_stmt stmt(raw);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) ids.push_back(sqlite3_column_int(stmt.get(), 0));
    return ids;
}

// "1,2,3", or "NULL" for none, so that IN (...) stays valid and matches nothing.
std::string id_list(const std::vector<int>& ids) {
    if (ids.empty()) return "NULL";
    std::string out;
    for (int id : ids) out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
}

std::vector<std::string> modern_view_statements(sqlite3* db) {
    std::string note = id_list(ids_of(db, "SELECT itemTypeID FROM main.itemTypes WHERE typeName='note'"));
    std::string hidden = id_list(
        ids_of(db, "SELECT itemTypeID FROM main.itemTypes WHERE typeName IN ('attachment','annotation')"));
    std::vector<int> title_ids = ids_of(db, "SELECT fieldID FROM main.fields WHERE fieldName='title'");
    if (has_table(db, "baseFieldMappings") && !title_ids.empty()) {
        auto mapped = ids_of(db, ("SELECT DISTINCT fieldID FROM main.baseFieldMappings WHERE baseFieldID=" +
                                  std::to_string(title_ids.front()))
                                     .c_str());
        title_ids.insert(title_ids.end(), mapped.begin(), mapped.end());
    }

    // Items the user sees: not in a feed, not in the trash, not under a trashed parent.
    std::string trashed_children;
    for (const char* child_table : {"itemAttachments", "itemNotes", "itemAnnotations"}) {
        if (!has_table(db, child_table)) continue;
        trashed_children += std::string(" AND m.itemID NOT IN (SELECT c.itemID FROM main.") + child_table +
                            " c JOIN main.deletedItems d ON d.itemID=c.parentItemID)";
    }
    std::string live =
        "m.itemID NOT IN (SELECT itemID FROM main.deletedItems)"
        " AND m.libraryID NOT IN (SELECT libraryID FROM main.libraries WHERE type='feed')" +
        trashed_children;
    std::string live_collections =
        has_table(db, "deletedCollections")
            ? " WHERE c.collectionID NOT IN (SELECT collectionID FROM main.deletedCollections)"
            : "";

    // Each view shows exactly the columns the statements join on: one more shared
    // column would silently change a NATURAL JOIN.
    return {
        "CREATE TEMP VIEW items AS SELECT m.itemID AS itemID, CASE WHEN m.itemTypeID IN (" + note +
            ") THEN 1 WHEN m.itemTypeID IN (" + hidden +
            ") THEN 14 ELSE 0 END AS itemTypeID, m.dateAdded AS dateAdded, m.key AS key FROM main.items m "
            "WHERE " +
            live,
        "CREATE TEMP VIEW itemData AS SELECT d.itemID AS itemID, 110 AS fieldID, d.valueID AS valueID "
        "FROM main.itemData d WHERE d.fieldID IN (" +
            id_list(title_ids) + ") AND d.itemID IN (SELECT itemID FROM temp.items)",
        "CREATE TEMP VIEW creators AS SELECT creatorID FROM main.creators",
        "CREATE TEMP VIEW creatorData AS SELECT creatorID, firstName, lastName FROM main.creators",
        "CREATE TEMP VIEW tags AS SELECT t.tagID AS tagID, t.name AS name, CASE WHEN EXISTS (SELECT 1 FROM "
        "main.itemTags it WHERE it.tagID=t.tagID AND it.type=0) THEN 0 ELSE 1 END AS type FROM main.tags t",
        "CREATE TEMP VIEW itemTags AS SELECT itemID, tagID FROM main.itemTags",
        "CREATE TEMP VIEW itemAttachments AS SELECT itemID, parentItemID AS sourceItemID, contentType AS "
        "mimeType, path FROM main.itemAttachments",
        "CREATE TEMP VIEW collections AS SELECT c.collectionID AS collectionID, c.collectionName AS "
        "collectionName FROM main.collections c" +
            live_collections,
    };
}

}  // namespace

ry_schema ry_detect_schema(sqlite3* db) {
    bool creator_data = has_table(db, "creatorData");
    if (creator_data && has_column(db, "itemAttachments", "sourceItemID")) return ry_schema::classic;
    if (!creator_data && has_column(db, "itemAttachments", "parentItemID")) return ry_schema::modern;
    return ry_schema::unknown;
}

int ry_create_modern_views(sqlite3* db) {
    int rc = sqlite3_exec(db, "SAVEPOINT modern_views", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    for (const std::string& sql : modern_view_statements(db)) {
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) break;
    }
    if (rc != SQLITE_OK) sqlite3_exec(db, "ROLLBACK TO modern_views", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "RELEASE modern_views", nullptr, nullptr, nullptr);
    return rc;
}

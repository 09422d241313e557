// Opening the library database read-only. Current versions of the reference
// manager keep the file in WAL mode and hold it locked while they run; the
// reader must neither disturb them nor leave -wal or -shm files on the card.
#include "ry_library.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gtk_include.h"
#include "ry_app.h"
#include "ry_raii.h"

namespace {

std::string snapshot_dir;
// Held locked while the snapshot is in use, so that a later run can tell a
// snapshot left by a crash from the one of a program still running.
int snapshot_lock_fd = -1;

// Snapshot directories are made in the temporary directory under this prefix and
// hold nothing but these files.
constexpr char kSnapshotPrefix[] = "ryx-snapshot-";
constexpr char kSnapshotLock[] = "owner.lock";
constexpr const char* kSnapshotFiles[] = {"library.sqlite", "library.sqlite-wal", "library.sqlite-shm",
                                          "library.sqlite-journal", kSnapshotLock};
// How long a reader waits for a writer of a classic library to finish its commit.
constexpr int kBusyTimeoutMs = 2000;

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

struct FileState {
    bool exists = false;
    off_t size = 0;
    struct timespec mtime = {};
    bool operator==(const FileState& o) const {
        return exists == o.exists && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

FileState file_state(const std::string& path) {
    FileState state;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return state;
    state.exists = true;
    state.size = st.st_size;
    state.mtime = st.st_mtim;
    return state;
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

// A rollback journal whose first byte is not zero holds pages to roll back, as SQLite
// judges it. Such a journal beside a library is hot: the first reader would have to
// roll it back, which is a write, so the library is read from a copy that may be.
bool has_hot_journal(const char* path) {
    FILE* f = fopen((std::string(path) + "-journal").c_str(), "rb");
    if (f == nullptr) return false;
    int first = fgetc(f);
    fclose(f);
    return first != EOF && first != 0;
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

// Why a copy failed: the copy's side (the temporary directory) or the library's.
struct CopyFault {
    int write_errno = 0;  // non-zero: the temporary directory could not take the copy
};

// Streams the file, so that a large library is never held in memory at once.
// Gives up as soon as the program is asked to quit.
bool copy_file(const std::string& from, const std::string& to, CopyFault* fault) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return false;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        fault->write_errno = errno;
        close(in);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        if (ry_quit_requested()) {
            ok = false;
            break;
        }
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = write(out, buffer.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                fault->write_errno = w < 0 ? errno : ENOSPC;
                ok = false;
            } else {
                done += w;
            }
        }
        if (!ok) break;
    }
    close(in);
    if (close(out) != 0 && ok) {
        fault->write_errno = errno;
        ok = false;
    }
    return ok;
}

// Removes a snapshot directory: only the files we put there, then the directory,
// which stays when anything else is in it.
void remove_snapshot_files(const std::string& dir) {
    for (const char* name : kSnapshotFiles) unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
}

void remove_snapshot() {
    if (snapshot_dir.empty()) return;
    remove_snapshot_files(snapshot_dir);
    if (snapshot_lock_fd >= 0) close(snapshot_lock_fd);
    snapshot_lock_fd = -1;
    snapshot_dir.clear();
}

bool is_snapshot_file(const char* name) {
    for (const char* known : kSnapshotFiles)
        if (strcmp(name, known) == 0) return true;
    return false;
}

// A directory of ours whose owner is gone: our prefix, our user, only our files,
// and a lock file that nobody holds.
bool is_abandoned_snapshot(const std::string& dir) {
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    GDir* listing = g_dir_open(dir.c_str(), 0, nullptr);
    if (listing == nullptr) return false;
    bool only_ours = true;
    while (const gchar* name = g_dir_read_name(listing)) only_ours = only_ours && is_snapshot_file(name);
    g_dir_close(listing);
    if (!only_ours) return false;
    int fd = open((dir + "/" + kSnapshotLock).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool abandoned = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return abandoned;
}

// Makes the private directory, named and locked so that it is recognisably ours.
bool make_snapshot_dir() {
    std::string pattern = std::string(kSnapshotPrefix) + "XXXXXX";
    gchar* dir = g_dir_make_tmp(pattern.c_str(), nullptr);
    if (dir == nullptr) return false;
    snapshot_dir = dir;
    g_free(dir);
    snapshot_lock_fd =
        open((snapshot_dir + "/" + kSnapshotLock).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (snapshot_lock_fd < 0 || flock(snapshot_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        remove_snapshot();
        return false;
    }
    return true;
}

bool quick_check_ok(sqlite3* db) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &raw, nullptr) != SQLITE_OK) return false;
    ry::unique_stmt stmt(raw);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
    const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
    return text != nullptr && g_strcmp0(reinterpret_cast<const char*>(text), "ok") == 0;
}

// Copies the library with its log and journal into the private directory. A
// copy during which the owner changed any of them is refused: it can be torn
// across a commit or a checkpoint in ways that no check of the copy finds.
bool copy_library(const char* path, const std::string& copy, CopyFault* fault) {
    const char* const sides[] = {"", "-wal", "-journal"};
    FileState before[3], after[3];
    for (int i = 0; i < 3; ++i) before[i] = file_state(std::string(path) + sides[i]);
    for (int i = 0; i < 3; ++i) {
        if (!before[i].exists || (i > 0 && before[i].size == 0)) continue;
        if (!copy_file(std::string(path) + sides[i], copy + sides[i], fault)) return false;
    }
    for (int i = 0; i < 3; ++i) after[i] = file_state(std::string(path) + sides[i]);
    for (int i = 0; i < 3; ++i)
        if (!(before[i] == after[i])) return false;
    return before[0].exists;
}

// Opens a private copy of the library, which SQLite may then recover freely
// (replaying its log or rolling back a hot journal). Tries a few times, since the
// owner may be writing while we copy.
// The temporary directory and what is wrong with it, for the user.
std::string temp_dir_problem(int error) {
    return std::string("the temporary directory ") + g_get_tmp_dir() +
           " cannot hold a snapshot: " + g_strerror(error);
}

int open_snapshot(const char* path, sqlite3** db, std::string* problem) {
    int rc = SQLITE_BUSY;
    for (int attempt = 0; attempt < kSnapshotTries && !ry_quit_requested(); ++attempt) {
        if (attempt > 0) g_usleep(200 * 1000);
        if (!make_snapshot_dir()) {
            *problem = temp_dir_problem(errno);
            rc = SQLITE_CANTOPEN;
            break;
        }
        std::string copy = snapshot_dir + "/library.sqlite";
        CopyFault fault;
        if (copy_library(path, copy, &fault) &&
            sqlite3_open_v2(copy.c_str(), db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            quick_check_ok(*db))
            return SQLITE_OK;
        sqlite3_close(*db);
        *db = nullptr;
        remove_snapshot();
        if (fault.write_errno != 0) {
            *problem = temp_dir_problem(fault.write_errno);
            rc = SQLITE_CANTOPEN;
            break;
        }
    }
    if (ry_quit_requested()) rc = SQLITE_INTERRUPT;
    // Keep a handle so that the caller can read the message and close it.
    sqlite3_open_v2(":memory:", db, SQLITE_OPEN_READONLY, nullptr);
    return rc;
}

int open_in_place(const char* path, sqlite3** db) {
    if (!in_wal_mode(path)) {
        int rc = sqlite3_open_v2(path, db, SQLITE_OPEN_READONLY, nullptr);
        // Another program may be committing to it: wait for that rather than fail.
        if (rc == SQLITE_OK) sqlite3_busy_timeout(*db, kBusyTimeoutMs);
        return rc;
    }
    // Nobody writes it and its log is empty: immutable keeps SQLite from creating
    // the -wal and -shm files that a WAL reader otherwise needs.
    std::string uri = "file:" + uri_escaped(path) + "?immutable=1";
    return sqlite3_open_v2(uri.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
}

// Only a regular file with something in it can be a library; anything else is
// refused before SQLite opens it (a FIFO would block the open for ever).
std::string refusal_of(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) return "";  // SQLite says why
    if (S_ISDIR(st.st_mode)) return std::string(path) + " is a directory, not a library file";
    if (S_ISFIFO(st.st_mode)) return std::string(path) + " is a FIFO, not a library file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return std::string(path) + " is a device, not a library file";
    if (!S_ISREG(st.st_mode)) return std::string(path) + " is not a regular file";
    if (st.st_size == 0) return std::string(path) + " is an empty file, not a library";
    return "";
}

}  // namespace

void ry_remove_abandoned_snapshots() {
    const gchar* tmp = g_get_tmp_dir();
    GDir* listing = g_dir_open(tmp, 0, nullptr);
    if (listing == nullptr) return;
    while (const gchar* name = g_dir_read_name(listing)) {
        if (!g_str_has_prefix(name, kSnapshotPrefix)) continue;
        std::string dir = std::string(tmp) + "/" + name;
        if (is_abandoned_snapshot(dir)) remove_snapshot_files(dir);
    }
    g_dir_close(listing);
}

ry_file_id ry_library_file_id(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) return {};
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

int ry_open_library(const char* path, sqlite3** db, std::string* problem) {
    *db = nullptr;
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    *problem = refusal_of(path);
    if (!problem->empty()) {
        sqlite3_open_v2(":memory:", db, SQLITE_OPEN_READONLY, nullptr);
        return SQLITE_CANTOPEN;
    }
    // A log beside the library, even an empty one, means that a writer may have it
    // open and may checkpoint into the file while we read it.
    bool snapshot = locked_exclusively_by_another(path) || file_state(std::string(path) + "-wal").exists ||
                    has_hot_journal(path);
    int rc = snapshot ? open_snapshot(path, db, problem) : open_in_place(path, db);
    if (rc != SQLITE_OK) return rc;
    // A library of another shape is left alone: preparing the catalogue reports it.
    ry_create_library_views(*db, ry_detect_schema(*db));
    // The copy is ours, but the program still never writes a library. (Set only
    // now: query_only refuses even the temporary views.)
    if (snapshot) sqlite3_exec(*db, "PRAGMA query_only=1", nullptr, nullptr, nullptr);
    return rc;
}

void ry_close_library() { remove_snapshot(); }

std::string ry_absolute_library_path(const char* path) {
    ry::gchar_ptr canonical(g_canonicalize_filename(path, nullptr));
    std::string out = canonical.get();
    // GLib keeps a leading "//", which SQLite would read as a URI authority.
    size_t slashes = out.find_first_not_of('/');
    if (slashes != std::string::npos && slashes > 1) out.erase(0, slashes - 1);
    return out;
}

namespace {

struct Watch {
    std::string path;
    ry_file_id seen;
    bool (*reopen)(gpointer) = nullptr;
    gpointer data = nullptr;
};
Watch watch;

}  // namespace

void ry_watch_library(const char* path, bool (*reopen)(gpointer), gpointer data) {
    watch = {path, ry_library_file_id(path), reopen, data};
}

void ry_check_library() {
    if (watch.reopen == nullptr) return;
    ry_file_id now = ry_library_file_id(watch.path.c_str());
    if (now == watch.seen) return;
    // Until a reopening succeeds, each listing tries again.
    if (watch.reopen(watch.data)) watch.seen = now;
}

const std::string& ry_snapshot_dir() { return snapshot_dir; }

// ---- The library as the catalogue reads it ----

namespace {

bool has_table(sqlite3* db, const char* table) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name=?1", -1, &raw,
                           nullptr) != SQLITE_OK)
        return false;
    ry::unique_stmt stmt(raw);
    sqlite3_bind_text(stmt.get(), 1, table, -1, SQLITE_STATIC);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

// Compiling a query of the column answers without needing SQLite's optional
// column metadata, which not every build carries.
bool has_column(sqlite3* db, const char* table, const char* column) {
    // Brackets, not double quotes: an unknown double-quoted name would pass as text.
    std::string sql = std::string("SELECT [") + column + "] FROM main.[" + table + "] LIMIT 0";
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
    ry::unique_stmt stmt(raw);
    return rc == SQLITE_OK;
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
    for (int id : ids) {
        if (!out.empty()) out += ',';
        out += std::to_string(id);
    }
    return out;
}

// The title and the fields that stand for it in types without one (a case's name, a
// statute's name, an e-mail's subject), looked up by name: a library created fresh
// numbers its fields differently from an upgraded one.
std::string title_field_ids(sqlite3* db) {
    std::vector<int> ids = ids_of(db,
                                  "SELECT fieldID FROM main.fields WHERE fieldName IN "
                                  "('title','caseName','nameOfAct','subject')");
    if (has_table(db, "baseFieldMappings")) {
        auto mapped = ids_of(db,
                             "SELECT DISTINCT m.fieldID FROM main.baseFieldMappings m JOIN main.fields f ON "
                             "f.fieldID=m.baseFieldID WHERE f.fieldName='title'");
        ids.insert(ids.end(), mapped.begin(), mapped.end());
    }
    return id_list(ids);
}

// Views under the names the catalogue reads, over either generation of the schema.
// They show the items a user sees in the reference manager: no trash (nor the notes and
// attachments of a trashed item), no feeds; one title per regular item, "(untitled)" for
// an item without one; and which items a tag leads to.
std::vector<std::string> library_view_statements(sqlite3* db, ry_schema schema) {
    const bool modern = schema == ry_schema::modern;
    const std::string parent = modern ? "parentItemID" : "sourceItemID";
    std::string note = id_list(ids_of(db, "SELECT itemTypeID FROM main.itemTypes WHERE typeName='note'"));
    std::string hidden = id_list(
        ids_of(db, "SELECT itemTypeID FROM main.itemTypes WHERE typeName IN ('attachment','annotation')"));
    std::string titles = title_field_ids(db);

    // Children: notes and attachments with their parent item.
    std::string children = "SELECT itemID, " + parent +
                           " AS parent FROM main.itemNotes UNION ALL SELECT itemID, " + parent +
                           " FROM main.itemAttachments";
    std::string live = "1";
    if (has_table(db, "deletedItems")) {
        live = "m.itemID NOT IN (SELECT itemID FROM main.deletedItems)";
        std::vector<const char*> child_tables{"itemAttachments", "itemNotes"};
        if (has_table(db, "itemAnnotations")) child_tables.push_back("itemAnnotations");
        // Asked per item, so that a statement over a few items never reads every child.
        for (const char* child_table : child_tables)
            live += std::string(" AND NOT EXISTS (SELECT 1 FROM main.") + child_table +
                    " c JOIN main.deletedItems d ON d.itemID=c." + parent + " WHERE c.itemID=m.itemID)";
    }
    if (has_column(db, "libraries", "type"))
        live += " AND m.libraryID NOT IN (SELECT libraryID FROM main.libraries WHERE type='feed')";

    // Each view shows exactly the columns the statements join on: one more shared
    // column would silently change a NATURAL JOIN.
    std::vector<std::string> views = {
        "CREATE TEMP VIEW items AS SELECT m.itemID AS itemID, CASE WHEN m.itemTypeID IN (" + note +
            ") THEN 1 WHEN m.itemTypeID IN (" + hidden +
            ") THEN 14 ELSE 0 END AS itemTypeID, m.dateAdded AS dateAdded, m.key AS key FROM main.items m "
            "WHERE " +
            live,
        // The items the lists show, each with its title, or "(untitled)" when it has none.
        "CREATE TEMP VIEW listedItems AS SELECT i.itemID AS itemID, i.dateAdded AS dateAdded, "
        "ifnull(v.value,'(untitled)') AS value FROM temp.items i LEFT JOIN main.itemData d ON "
        "d.itemID=i.itemID AND d.fieldID IN (" +
            titles + ") LEFT JOIN main.itemDataValues v ON v.valueID=d.valueID WHERE i.itemTypeID=0",
        // A tag leads to the regular items that carry it and to the parents of the
        // notes and attachments that carry it, as the reference manager shows them. A
        // pair may come twice (an item and its note both tagged): readers take distinct
        // pairs. UNION ALL lets SQLite filter by tag inside each part.
        "CREATE TEMP VIEW taggedItems AS SELECT it.itemID AS itemID, it.tagID AS tagID FROM main.itemTags it "
        "JOIN temp.items i ON i.itemID=it.itemID WHERE i.itemTypeID=0 UNION ALL SELECT c.parent, it.tagID "
        "FROM "
        "main.itemTags it JOIN (" +
            children +
            ") c ON c.itemID=it.itemID JOIN temp.items i ON i.itemID=c.itemID JOIN temp.items p ON "
            "p.itemID=c.parent WHERE p.itemTypeID=0",
    };
    if (!modern) return views;
    const std::vector<std::string> modern_only = {
        "CREATE TEMP VIEW creators AS SELECT creatorID FROM main.creators",
        "CREATE TEMP VIEW creatorData AS SELECT creatorID, firstName, lastName FROM main.creators",
        // Manual where some item the user sees carries it as a manual tag.
        "CREATE TEMP VIEW tags AS SELECT t.tagID AS tagID, t.name AS name, CASE WHEN EXISTS (SELECT 1 FROM "
        "main.itemTags it WHERE it.tagID=t.tagID AND it.type=0 AND it.itemID IN (SELECT itemID FROM "
        "temp.items)) THEN 0 ELSE 1 END AS type FROM main.tags t",
        "CREATE TEMP VIEW itemTags AS SELECT itemID, tagID FROM main.itemTags",
        "CREATE TEMP VIEW itemAttachments AS SELECT itemID, parentItemID AS sourceItemID, linkMode, "
        "contentType AS mimeType, path FROM main.itemAttachments",
        "CREATE TEMP VIEW collections AS SELECT c.collectionID AS collectionID, c.collectionName AS "
        "collectionName FROM main.collections c" +
            std::string(
                has_table(db, "deletedCollections")
                    ? " WHERE c.collectionID NOT IN (SELECT collectionID FROM main.deletedCollections)"
                    : ""),
    };
    views.insert(views.end(), modern_only.begin(), modern_only.end());
    return views;
}

}  // namespace

ry_schema ry_detect_schema(sqlite3* db) {
    bool creator_data = has_table(db, "creatorData");
    if (creator_data && has_column(db, "itemAttachments", "sourceItemID")) return ry_schema::classic;
    if (!creator_data && has_column(db, "itemAttachments", "parentItemID")) return ry_schema::modern;
    return ry_schema::unknown;
}

int ry_create_library_views(sqlite3* db, ry_schema schema) {
    if (schema == ry_schema::unknown) return SQLITE_OK;
    int rc = sqlite3_exec(db, "SAVEPOINT library_views", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    for (const std::string& sql : library_view_statements(db, schema)) {
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) break;
    }
    if (rc != SQLITE_OK) sqlite3_exec(db, "ROLLBACK TO library_views", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "RELEASE library_views", nullptr, nullptr, nullptr);
    return rc;
}

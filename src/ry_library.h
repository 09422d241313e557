// Opening the library database read-only, whatever version of the reference
// manager wrote it and whether or not that program is running.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <string>

enum class ry_schema { classic, modern, unknown };

// Opens the library at path for reading, never creating or writing it and never
// leaving files beside it. A library that another program holds locked, or whose
// write-ahead log holds changes, is read from a private snapshot. A modern library
// is given temporary views under the classic names, so that the catalogue runs
// unchanged; both generations get views that hide the trash and feeds. Returns
// SQLite's result code; *db is set even on failure (close it).
// SQLITE_BUSY means no consistent snapshot could be had, SQLITE_INTERRUPT that the
// program was asked to quit meanwhile. When the path is no library file (a
// directory, a FIFO, a device, an empty file) or the temporary directory cannot
// hold the snapshot, *problem says so in words and the result is SQLITE_CANTOPEN.
int ry_open_library(const char* path, sqlite3** db, std::string* problem = nullptr);
// The absolute form of a library path given on the command line: made absolute against
// the working directory, "." and ".." resolved, repeated slashes (a leading "//" too)
// made one. Symbolic links are left as they are.
std::string ry_absolute_library_path(const char* path);
// Removes the private snapshot, if any (call after closing the connection).
void ry_close_library();

// Which generation of the library schema the connection sees in its main database.
ry_schema ry_detect_schema(sqlite3* db);
// Creates the temporary views the catalogue reads: the items a user sees, their
// titles and tags, and for a modern library its tables under the classic names.
// Creates all or none (none for an unknown schema); returns SQLite's result code.
int ry_create_library_views(sqlite3* db, ry_schema schema);
// Removes the snapshot directories that an earlier run left behind when it was
// killed: only directories that are plainly ours and no longer in use.
void ry_remove_abandoned_snapshots();

// What tells one library file from another that has replaced it.
struct ry_file_id {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    time_t mtime_sec = 0;
    long mtime_nsec = 0;
    bool operator==(const ry_file_id&) const = default;
};
ry_file_id ry_library_file_id(const char* path);
// Has ry_check_library call reopen(data) whenever the library file at path is no
// longer the one last opened (another inode, size or modification time): the file
// was replaced, or written in place. reopen returns whether it could open it.
void ry_watch_library(const char* path, bool (*reopen)(void*), void* data);
// Called before each listing.
void ry_check_library();

// The directory of the private snapshot, "" when the library is read in place.
const std::string& ry_snapshot_dir();

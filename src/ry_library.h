// Opening the library database read-only, whatever version of the reference
// manager wrote it and whether or not that program is running.
#pragma once

#include <sqlite3.h>

#include <string>

enum class ry_schema { classic, modern, unknown };

// Opens the library at path for reading, never creating or writing it and never
// leaving files beside it. A library that another program holds locked, or whose
// write-ahead log holds changes, is read from a private snapshot. A modern library
// is given temporary views under the classic names, so that the catalogue runs
// unchanged; both generations get views that hide the trash and feeds. Returns SQLite's result code; *db is
// set even on failure (close it). SQLITE_BUSY means no consistent snapshot could be had.
int ry_open_library(const char* path, sqlite3** db);
// Removes the private snapshot, if any (call after closing the connection).
void ry_close_library();

// Which generation of the library schema the connection sees in its main database.
ry_schema ry_detect_schema(sqlite3* db);
// Creates the temporary views the catalogue reads: the items a user sees, their
// titles and tags, and for a modern library its tables under the classic names.
// Creates all or none (none for an unknown schema); returns SQLite's result code.
int ry_create_library_views(sqlite3* db, ry_schema schema);
// The directory of the private snapshot, "" when the library is read in place.
const std::string& ry_snapshot_dir();

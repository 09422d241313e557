// Opening the library database read-only.
#pragma once

#include <sqlite3.h>

// Opens the library at path for reading, never creating or writing it.
// Returns SQLite's result code; *db is set even on failure (close it).
int ry_open_library(const char* path, sqlite3** db);
// Releases what ry_open_library made besides the connection (call after closing it).
void ry_close_library();

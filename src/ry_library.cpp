// Opening the library database read-only.
#include "ry_library.h"

int ry_open_library(const char* path, sqlite3** db) {
    return sqlite3_open_v2(path, db, SQLITE_OPEN_READONLY, nullptr);
}

void ry_close_library() {}

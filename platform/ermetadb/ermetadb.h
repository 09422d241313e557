// Stand-in for the platform's per-directory metadata database.
#pragma once

#include <glib.h>

G_BEGIN_DECLS

enum {
    ER_OK = 0,
    ER_FAIL = 1,
    ER_INVALID_PARAMETER = 2,
    ER_INVALID_DATA = 3,
    ER_NOT_FOUND = 4,
    ER_READONLY = 5,
    ER_OPEN_ERROR = 6,
    ER_READ_ERROR = 7,
    ER_WRITE_ERROR = 8,
    ER_OUT_OF_MEMORY = 9,
    ER_FORBIDDEN = 10
};

// A directory's database is the file "metadata.db" in it (SQLite; table
// documents(filename PRIMARY KEY, size, modified, added), user_version 1).
// Every call answers ER_INVALID_PARAMETER for a NULL handle, a NULL or empty directory or
// file name, and ER_OUT_OF_MEMORY only when SQLite runs out of it.
#define ERMETADB_FILE_NAME "metadata.db"

typedef struct erMetadb erMetadb;

// A new handle with no database open; NULL only when out of memory.
erMetadb* ermetadb_new(void);
// ER_OK when opened for reading; ER_NOT_FOUND when the directory (or its database) is not
// there: nothing is ever created. ER_INVALID_DATA for a file that is not our database,
// ER_OPEN_ERROR when it cannot be read, ER_FAIL when the handle already has one open.
int ermetadb_open_database_readonly(erMetadb* metadb, const GString* directory);
// ER_OK when a new, empty database was made in the directory. Never replaces one:
// ER_FAIL when the directory already has a database, ER_NOT_FOUND when the directory is not
// there, ER_WRITE_ERROR when it cannot be written (nothing is left behind then).
int ermetadb_create_database(const GString* directory);
// ER_OK when opened for reading and writing; ER_NOT_FOUND, ER_INVALID_DATA, ER_OPEN_ERROR
// and ER_FAIL as for reading; ER_READONLY when the file or the medium cannot be written.
int ermetadb_open_database(erMetadb* metadb, const GString* directory);
// Records a file (name relative to the directory) with its size and modification time,
// replacing what an earlier call recorded for the same name but keeping when it was first
// added. ER_FAIL without an open database, ER_READONLY when opened for reading,
// ER_INVALID_PARAMETER for a negative size, ER_WRITE_ERROR when the write fails.
int ermetadb_add_document(erMetadb* metadb, const GString* filename, gint64 size, gint64 time_modified);
// ER_OK when the database was closed; ER_FAIL when none was open.
int ermetadb_close_database(erMetadb* metadb);
// Releases the handle (NULL allowed), closing a database that is still open.
void ermetadb_free_impl(erMetadb* metadb);

G_END_DECLS

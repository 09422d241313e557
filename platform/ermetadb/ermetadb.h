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

typedef struct erMetadb erMetadb;

erMetadb* ermetadb_new(void);
int ermetadb_open_database_readonly(erMetadb* metadb, const GString* directory);
int ermetadb_create_database(const GString* directory);
int ermetadb_open_database(erMetadb* metadb, const GString* directory);
int ermetadb_add_document(erMetadb* metadb, const GString* filename, gint64 size, gint64 time_modified);
int ermetadb_close_database(erMetadb* metadb);
// Releases the handle (NULL allowed), closing a database that is still open.
void ermetadb_free_impl(erMetadb* metadb);

G_END_DECLS

// Owners for the C resources the program handles: one unique_ptr alias per kind.
#pragma once

#include <sqlite3.h>

#include <memory>

#include "gtk_include.h"

namespace ry {

struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
// A statement compiled for one call and finalized when it goes out of scope.
using unique_stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using unique_db = std::unique_ptr<sqlite3, DbCloser>;

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
// A string the caller must g_free.
using gchar_ptr = std::unique_ptr<gchar, GFreeDeleter>;

struct GStrfreevDeleter {
    void operator()(gchar** v) const { g_strfreev(v); }
};
using gstrv_ptr = std::unique_ptr<gchar*, GStrfreevDeleter>;

struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
using gerror_ptr = std::unique_ptr<GError, GErrorDeleter>;

struct GObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
// Adopts one reference: construct from a pointer whose reference we own.
template <class T>
using gobject_ptr = std::unique_ptr<T, GObjectUnref>;

struct TreePathDeleter {
    void operator()(GtkTreePath* p) const { gtk_tree_path_free(p); }
};
using tree_path_ptr = std::unique_ptr<GtkTreePath, TreePathDeleter>;

struct KeyFileDeleter {
    void operator()(GKeyFile* k) const { g_key_file_free(k); }
};
using key_file_ptr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

// Leaves a reused statement reset on every way out of a scope, so that it can be
// rebound at once by the next listing.
class StmtResetGuard {
  public:
    explicit StmtResetGuard(sqlite3_stmt* s) : stmt_(s) {}
    ~StmtResetGuard() { sqlite3_reset(stmt_); }
    StmtResetGuard(const StmtResetGuard&) = delete;
    StmtResetGuard& operator=(const StmtResetGuard&) = delete;

  private:
    sqlite3_stmt* stmt_;
};

}  // namespace ry

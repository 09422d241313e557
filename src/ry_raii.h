// Owners for the C resources that the program, the platform stand-ins, the generator and
// the tests handle: one deleter per C type, one unique_ptr alias per kind.
#pragma once

#include <sqlite3.h>

#include <memory>

#include "gtk_include.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <gconf/gconf-value.h>
#pragma GCC diagnostic pop

#include "ermetadb.h"

namespace ry {

// Calls Free on the pointer; stateless, so a unique_ptr with it is one pointer wide.
template <auto Free>
struct c_deleter {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
template <class T, auto Free>
using c_ptr = std::unique_ptr<T, c_deleter<Free>>;

inline void free_gstring(GString* s) { g_string_free(s, TRUE); }

// A statement compiled for one call and finalized when it goes out of scope.
using unique_stmt = c_ptr<sqlite3_stmt, sqlite3_finalize>;
// Closed once its last statement is finalized, whatever the order of destruction.
using unique_db = c_ptr<sqlite3, sqlite3_close_v2>;
// g_free'd memory: a string the caller must free, or an array (g_free_ptr<gint[]>).
template <class T>
using g_free_ptr = std::unique_ptr<T, c_deleter<g_free>>;
using gchar_ptr = g_free_ptr<gchar>;
using gstrv_ptr = c_ptr<gchar*, g_strfreev>;
using gstring_ptr = c_ptr<GString, free_gstring>;
using gerror_ptr = c_ptr<GError, g_error_free>;
using variant_ptr = c_ptr<GVariant, g_variant_unref>;
using key_file_ptr = c_ptr<GKeyFile, g_key_file_free>;
using tree_path_ptr = c_ptr<GtkTreePath, gtk_tree_path_free>;
using gconf_value_ptr = c_ptr<GConfValue, gconf_value_free>;
using metadb_ptr = c_ptr<erMetadb, ermetadb_free_impl>;
// Adopts one reference: construct from a pointer whose reference we own.
template <class T>
using gobject_ptr = c_ptr<T, g_object_unref>;

// Hands a C++ object to a GObject, which destroys it with itself (or when the key
// is set again).
template <class T>
void set_owned_data(gpointer object, const char* key, std::unique_ptr<T> data) {
    g_object_set_data_full(G_OBJECT(object), key, data.release(),
                           [](gpointer p) { std::unique_ptr<T> owned(static_cast<T*>(p)); });
}

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

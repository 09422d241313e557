// File types and viewers from the platform registry, path helpers, and opening
// an activated attachment.
#include "ry_file.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <gconf/gconf-client.h>
#pragma GCC diagnostic pop

#include "ermetadb.h"
#include "ipc.h"
#include "ry_app.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "ry_recent.h"
#include "ry_test_hooks.h"

// The registry's GConf readers: a new string value of dir/key or NULL, and the
// entries of one viewer directory.
gchar* read_gconf_value(const gchar* dir, const gchar* key, GConfClient* client);
void add_filetype_from_gconf(const gchar* dir, GConfClient* client);

namespace {

const char REGKEY_FILETYPE_DIR[] = "/apps/er/sys/ctb/filetypes";
const char ICON_PATH_FORMAT[] = "/usr/share/ctb/icon-%s-small.png";
const char STORAGE_PREFIX[] = "storage:";
const char ATTACHMENTS_PREFIX[] = "attachments:";
const char LINKED_BASE_KEY[] = "linked_attachment_base";

struct hardcoded_filetype_t {
    const gchar* extension;
    const gchar* icon_name;
    const gchar* viewer_cmd;
};

// The catch-all entry claims "" before anything from GConf can.
const hardcoded_filetype_t g_hardcoded_filetypes[] = {
    {"", "unknown", nullptr},
    {nullptr, nullptr, nullptr},
};

// Zero-terminated: an all-NULL element ends every scan.
GArray* g_filetype_info = nullptr;

void append_filetype(const gchar* extension, const gchar* icon_name, const gchar* viewer_cmd) {
    filetype_info_t entry = {g_strdup(extension), g_strdup(icon_name), g_strdup(viewer_cmd)};
    g_array_append_val(g_filetype_info, entry);
}

void add_hardcoded_filetypes() {
    for (const hardcoded_filetype_t* row = g_hardcoded_filetypes; row->extension != nullptr; ++row)
        append_filetype(row->extension, row->icon_name, row->viewer_cmd);
}

// The key path is formed whole with an allocation, so a directory name of any
// length gives its real keys rather than cut-off ones.
ry::gconf_value_ptr read_gconf_raw(const gchar* dir, const gchar* key, GConfClient* client) {
    ry::gchar_ptr key_path(g_strdup_printf("%s/%s", dir, key));
    return ry::gconf_value_ptr(gconf_client_get(client, key_path.get(), nullptr));
}

void add_filetypes_from_gconf() {
    GConfClient* client = gconf_client_get_default();
    if (client == nullptr) return;
    if (gconf_client_dir_exists(client, REGKEY_FILETYPE_DIR, nullptr)) {
        GSList* dirs = gconf_client_all_dirs(client, REGKEY_FILETYPE_DIR, nullptr);
        for (GSList* d = dirs; d != nullptr; d = d->next)
            add_filetype_from_gconf(static_cast<const gchar*>(d->data), client);
        g_slist_free_full(dirs, g_free);
    }
    g_object_unref(client);
}

void init_filetype_info() {
    g_filetype_info = g_array_new(TRUE, TRUE, sizeof(filetype_info_t));
    add_hardcoded_filetypes();
    add_filetypes_from_gconf();
}

// Characters that keep their meaning inside double quotes for a shell.
bool needs_escape(char c) { return c == '"' || c == '\\' || c == '$' || c == '`'; }

// A single, real directory name: no separator, not "." or "..".
bool is_plain_component(const gchar* name) {
    return name != nullptr && *name != '\0' && strchr(name, '/') == nullptr && strcmp(name, ".") != 0 &&
           strcmp(name, "..") != 0;
}

// The one opening that waits for the daemon's answer, and the header that says so.
bool opening = false;
const char OPENING_FORMAT[] = "Opening %s...";

// The header of the attachment list's last column (the file names).
GtkTreeViewColumn* file_column(GtkTreeView* view) {
    GList* columns = gtk_tree_view_get_columns(view);
    GList* last = g_list_last(columns);
    auto* column = last != nullptr ? GTK_TREE_VIEW_COLUMN(last->data) : nullptr;
    g_list_free(columns);
    return column;
}

struct Opening {
    ry::gobject_ptr<GtkTreeViewColumn> header;  // kept even if the list goes first
    ry::gchar_ptr title;                        // the header's own title, put back after
    GQueue* history;                            // that the item enters once opened; may be NULL
    gint item_id;
};

void on_task_started(gboolean ok, gpointer data) {
    std::unique_ptr<Opening> done(static_cast<Opening*>(data));
    opening = false;
    if (done->header) gtk_tree_view_column_set_title(done->header.get(), done->title.get());
    if (!ok) run_error_dialog("Sorry, could not open");
    // Only an item whose attachment the daemon took on enters the history.
    if (ok && done->history != nullptr) ry_remember_item(done->history, done->item_id);
}

// Shows the name in the header while the daemon starts the viewer.
void start_viewer(GtkTreeView* view, const gchar* cmd_line, const gchar* work_dir, const gchar* label,
                  const gchar* thumbnail_path, GQueue* history, gint item_id) {
    auto pending = std::make_unique<Opening>();
    pending->history = history;
    pending->item_id = item_id;
    if (GtkTreeViewColumn* column = file_column(view)) {
        pending->header.reset(GTK_TREE_VIEW_COLUMN(g_object_ref(column)));
        pending->title.reset(g_strdup(gtk_tree_view_column_get_title(column)));
        ry::gchar_ptr shown(g_strdup_printf(OPENING_FORMAT, label));
        gtk_tree_view_column_set_title(column, shown.get());
    }
    ipc_sys_start_task(cmd_line, work_dir, label, thumbnail_path, on_task_started, pending.release());
}

bool has_parent_component(const gchar* path) {
    ry::gstrv_ptr parts(g_strsplit(path, "/", -1));
    for (gchar** p = parts.get(); *p != nullptr; ++p)
        if (strcmp(*p, "..") == 0) return true;
    return false;
}

// Where a path really leads, links resolved: the longest part of it that exists,
// resolved, with the rest (which holds no "..") appended.
std::string real_location(const std::string& path) {
    std::string head = path, tail;
    for (;;) {
        if (char* real = realpath(head.c_str(), nullptr)) {
            std::string resolved = real;
            free(real);
            return resolved == "/" ? tail : resolved + tail;
        }
        size_t slash = head.find_last_of('/');
        if (slash == std::string::npos) return "";
        tail = head.substr(slash) + tail;
        head.erase(slash == 0 ? 1 : slash);
    }
}

}  // namespace

gboolean ry_location_is_allowed(const gchar* library_dir, const gchar* fullpath, gboolean linked_by_user) {
    // A file the user linked into the library lies wherever the user put it.
    if (linked_by_user) return TRUE;
    std::string storage = real_location(std::string(library_dir) + "/storage");
    std::string target = real_location(fullpath);
    return !storage.empty() && !target.empty() && g_str_has_prefix(target.c_str(), (storage + "/").c_str());
}

gchar* get_dir_name(const char* path) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) return g_strdup("");
    return g_strndup(path, slash - path);
}

gchar* read_gconf_value(const gchar* dir, const gchar* key, GConfClient* client) {
    ry::gconf_value_ptr value = read_gconf_raw(dir, key, client);
    // A value of another type counts as unset, without an error report from GConf.
    if (!value || value->type != GCONF_VALUE_STRING) return nullptr;
    return g_strdup(gconf_value_get_string(value.get()));
}

void add_filetype_from_gconf(const gchar* dir, GConfClient* client) {
    ry::gchar_ptr viewer_cmd(read_gconf_value(dir, "viewer_cmd", client));
    if (!viewer_cmd) return;
    ry::gchar_ptr icon_name(read_gconf_value(dir, "icon_name", client));
    if (!icon_name) return;
    ry::gconf_value_ptr extensions = read_gconf_raw(dir, "extensions", client);
    if (!extensions || extensions->type != GCONF_VALUE_LIST ||
        gconf_value_get_list_type(extensions.get()) != GCONF_VALUE_STRING)
        return;
    // The registry already exists here, so the lookup sees the entries added so
    // far: the first claim to an extension wins.
    for (GSList* e = gconf_value_get_list(extensions.get()); e != nullptr; e = e->next) {
        const gchar* extension = gconf_value_get_string(static_cast<GConfValue*>(e->data));
        if (extension == nullptr || find_filetype_info(extension) != nullptr) continue;
        append_filetype(extension, icon_name.get(), viewer_cmd.get());
    }
}

filetype_info_t* find_filetype_info(const gchar* file_ext) {
    if (file_ext == nullptr) file_ext = "";
    if (g_filetype_info == nullptr) init_filetype_info();
    auto* entries = reinterpret_cast<filetype_info_t*>(g_filetype_info->data);
    for (filetype_info_t* entry = entries; entry->extension != nullptr; ++entry)
        if (g_ascii_strcasecmp(entry->extension, file_ext) == 0) return entry;
    return nullptr;
}

void ry_forget_filetype_info() {
    if (g_filetype_info == nullptr) return;
    for (guint i = 0; i < g_filetype_info->len; ++i) {
        filetype_info_t& entry = g_array_index(g_filetype_info, filetype_info_t, i);
        g_free(entry.extension);
        g_free(entry.icon_name);
        g_free(entry.viewer_cmd);
    }
    g_array_free(g_filetype_info, TRUE);
    g_filetype_info = nullptr;
}

const gchar* get_viewer_from_file_extension(const gchar* file_ext) {
    filetype_info_t* entry = find_filetype_info(file_ext);
    return entry != nullptr ? entry->viewer_cmd : nullptr;
}

gchar* get_icon_file_from_file_extension(const gchar* file_ext) {
    filetype_info_t* entry = find_filetype_info(file_ext);
    if (entry == nullptr) return nullptr;
    return g_strdup_printf(ICON_PATH_FORMAT, entry->icon_name);
}

const char* ry_remove_prefix(const gchar* str, const gchar* prefix) {
    if (g_str_has_prefix(str, prefix)) return str + strlen(prefix);
    return str;
}

const char* ry_mime_pointer(const char* path) {
    g_return_val_if_fail(path != NULL, NULL);
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path + strlen(path);
}

const char* g_extension_pointer(const char* path) {
    g_return_val_if_fail(path != NULL, NULL);
    const char* slash = strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    const char* dot = strrchr(base, '.');
    return dot != nullptr ? dot + 1 : nullptr;
}

gchar* ry_build_command_line(const gchar* viewer_cmd, const gchar* fullpath) {
    ry::gstring_ptr quoted(g_string_new(nullptr));
    for (const char* c = fullpath; *c != '\0'; ++c) {
        if (needs_escape(*c)) g_string_append_c(quoted.get(), '\\');
        g_string_append_c(quoted.get(), *c);
    }
    return g_strdup_printf("%s \"%s\"", viewer_cmd, quoted->str);
}

gboolean ry_storage_path_is_safe(const gchar* key, const gchar* filename) {
    return is_plain_component(key) && filename != nullptr && !has_parent_component(filename);
}

int create_metadatabase(const gchar* directory, const gchar* filename, const gchar* fullpath) {
    ry::gstring_ptr dir(g_string_new(directory));
    ry::gstring_ptr file(g_string_new(filename));
    ry::metadb_ptr metadb(ermetadb_new());
    if (!metadb) return 1;
    int rc = ermetadb_open_database_readonly(metadb.get(), dir.get());
    if (rc == ER_OK) return ermetadb_close_database(metadb.get()) == ER_OK ? 0 : 1;
    // Any other answer means a database we cannot read: leave it alone.
    if (rc != ER_NOT_FOUND) return 0;
    // Look at the document first: a file we cannot stat must leave no empty database behind.
    struct stat st;
    if (stat(fullpath, &st) != 0 || ermetadb_create_database(dir.get()) != ER_OK ||
        ermetadb_open_database(metadb.get(), dir.get()) != ER_OK)
        return 1;
    if (!S_ISREG(st.st_mode)) return 0;
    ermetadb_add_document(metadb.get(), file.get(), gint64(st.st_size), gint64(st.st_mtime));
    return ermetadb_close_database(metadb.get()) == ER_OK ? 0 : 1;
}

gchar* ry_linked_attachment_base(const gchar* library_dir) {
    GConfClient* client = gconf_client_get_default();
    gchar* base = nullptr;
    if (client != nullptr) {
        base = read_gconf_value(RY_GCONF_DIR, LINKED_BASE_KEY, client);
        g_object_unref(client);
    }
    if (base != nullptr && *base != '\0') return base;
    g_free(base);
    return g_strdup(library_dir);
}

gchar* ry_linked_file_path(const gchar* library_dir, const gchar* stored_path) {
    if (g_str_has_prefix(stored_path, ATTACHMENTS_PREFIX)) {
        const gchar* relative = stored_path + strlen(ATTACHMENTS_PREFIX);
        if (*relative == '\0' || g_path_is_absolute(relative) || has_parent_component(relative))
            return nullptr;
        ry::gchar_ptr base(ry_linked_attachment_base(library_dir));
        return g_build_filename(base.get(), relative, nullptr);
    }
    return g_path_is_absolute(stored_path) ? g_strdup(stored_path) : nullptr;
}

gchar* ry_attachment_file_path(const gchar* library_dir, const gchar* key, const gchar* stored_path,
                               int link_mode) {
    if (stored_path == nullptr || *stored_path == '\0') return nullptr;
    if (link_mode == RY_LINK_FILE) return ry_linked_file_path(library_dir, stored_path);
    // Keys and names come from a library that others may have filled: one that
    // would lead out of the storage directory is not opened at all.
    const gchar* filename = ry_remove_prefix(stored_path, STORAGE_PREFIX);
    if (!ry_storage_path_is_safe(key, filename)) return nullptr;
    return g_strdup_printf("%s/storage/%s/%s", library_dir, key, filename);
}

gboolean ry_attachment_opening() { return opening; }

void ry_ignore_taps_while_opening(GtkTreeView* tree_view, GtkTreePath* /*path*/,
                                  GtkTreeViewColumn* /*column*/, gpointer /*data*/) {
    if (opening) g_signal_stop_emission_by_name(tree_view, "row-activated");
}

void ry_attachment_activated(GtkTreeView* tree_view, GtkTreePath* /*path*/, GtkTreeViewColumn* /*column*/,
                             gpointer data) {
    // One tap, one viewer: the list's own guard stops the others before they get here,
    // also while a dialog of this opening is up.
    if (opening) return;
    opening = true;
    struct OpeningEnds {
        ~OpeningEnds() { opening = start_sent; }
        bool start_sent = false;
    } ends;
    auto* context = static_cast<ry_attachment_context*>(data);
    // The first selected row, whatever selection mode the list is in.
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    GList* rows = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(tree_view), &model);
    bool selected =
        rows != nullptr && gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath*>(rows->data));
    g_list_free_full(rows, [](gpointer row) { gtk_tree_path_free(static_cast<GtkTreePath*>(row)); });
    if (!selected) return;

    gchar* mimetype_raw = nullptr;
    gchar* filepath_raw = nullptr;
    gchar* key_raw = nullptr;
    gint source_id = -1, link_mode = RY_LINK_IMPORTED_FILE;
    gtk_tree_model_get(model, &iter, ATTACHMENT_SOURCE_ID, &source_id, ATTACHMENT_MIMETYPE, &mimetype_raw,
                       ATTACHMENT_PATH, &filepath_raw, ATTACHMENT_KEY, &key_raw, ATTACHMENT_LINK_MODE,
                       &link_mode, -1);
    ry::gchar_ptr mimetype(mimetype_raw), filepath(filepath_raw), key(key_raw);
    if (link_mode == RY_LINK_URL) {
        run_error_dialog("Web links cannot be opened on the reader");
        return;
    }
    // A row without a path or MIME type is looked up as one without an extension.
    const gchar* path_text = filepath ? filepath.get() : "";
    const gchar* mime_text = mimetype ? mimetype.get() : "";
    const gchar* library_dir = context->library_dir;
    const gboolean linked = link_mode == RY_LINK_FILE;
    ry::gchar_ptr fullpath(ry_attachment_file_path(library_dir, key.get(), path_text, link_mode));
    // Nor one that a symbolic link on the way leads out of storage.
    if (!fullpath || !ry_location_is_allowed(library_dir, fullpath.get(), linked)) {
        run_error_dialog("Sorry, could not open");
        return;
    }
    ry::gchar_ptr work_dir(get_dir_name(fullpath.get()));
    // The daemon shows a stored file by its name within storage, a linked one by its own.
    const gchar* basename = strrchr(fullpath.get(), '/') + 1;
    const gchar* filename = linked ? basename : ry_remove_prefix(path_text, STORAGE_PREFIX);
    if (!g_file_test(fullpath.get(), G_FILE_TEST_EXISTS)) {
        ry::gchar_ptr message(g_strdup_printf("File not found: %s", filename));
        run_error_dialog(message.get());
        return;
    }

    const gchar* viewer_cmd = get_viewer_from_file_extension(g_extension_pointer(path_text));
    if (viewer_cmd == nullptr) viewer_cmd = get_viewer_from_file_extension(ry_mime_pointer(mime_text));
    if (viewer_cmd == nullptr) {
        run_error_dialog("The format is unknown");
        return;
    }
    ry::gchar_ptr thumbnail_path(get_icon_file_from_file_extension(g_extension_pointer(path_text)));
    if (!thumbnail_path) thumbnail_path.reset(get_icon_file_from_file_extension(ry_mime_pointer(mime_text)));
    if (!thumbnail_path) thumbnail_path.reset(g_strdup(""));
    ry::gchar_ptr cmd_line(ry_build_command_line(viewer_cmd, fullpath.get()));

    // Metadata only inside the library's storage, never beside a file the user keeps
    // elsewhere. The document is entered under its name within work_dir.
    if (with_metadb == WITH_METADB && !linked) {
        if (create_metadatabase(work_dir.get(), basename, fullpath.get()) != 0)
            run_error_dialog("Failed to create metadatabase");
        // Asked to quit while the dialog was up: no viewer after that.
        if (ry_quit_requested()) return;
    }
    start_viewer(tree_view, cmd_line.get(), work_dir.get(), filename, thumbnail_path.get(), context->history,
                 source_id);
    ends.start_sent = true;
}

// File types and viewers from the platform registry, path helpers, and opening
// an activated attachment.
#pragma once

#include "gtk_include.h"

struct filetype_info_t {
    gchar* extension;  // without the dot; "" in the catch-all entry
    gchar* icon_name;
    gchar* viewer_cmd;  // NULL in the catch-all entry
};

// A new string: everything before the last "/" of path ("" when there is none).
gchar* get_dir_name(const char* path);

filetype_info_t* find_filetype_info(const gchar* file_ext);
const gchar* get_viewer_from_file_extension(const gchar* file_ext);
gchar* get_icon_file_from_file_extension(const gchar* file_ext);

const char* ry_remove_prefix(const gchar* str, const gchar* prefix);
const char* ry_mime_pointer(const char* path);
const char* g_extension_pointer(const char* path);

// The viewer command, a space and fullpath in double quotes; the characters that
// a shell still reads inside double quotes (" \ $ `) are escaped with a backslash.
gchar* ry_build_command_line(const gchar* viewer_cmd, const gchar* fullpath);
// TRUE when <library>/storage/<key>/<filename> stays inside <library>/storage/<key>:
// key is one real directory name and filename has no ".." component.
gboolean ry_storage_path_is_safe(const gchar* key, const gchar* filename);
// TRUE when fullpath, with every symbolic link on the way resolved, lies inside the
// library's storage directory, or is a file the user linked into the library
// (linked_by_user): only then may the metadata step and the viewer have it.
gboolean ry_location_is_allowed(const gchar* library_dir, const gchar* fullpath, gboolean linked_by_user);

// The program's own GConf directory.
inline constexpr char RY_GCONF_DIR[] = "/apps/ryx";
// The directory that linked files stored as "attachments:PATH" are relative to: the
// string "/apps/ryx/linked_attachment_base" when set, else the library's directory. New string.
gchar* ry_linked_attachment_base(const gchar* library_dir);
// Where a linked file lies: an absolute stored path as it is, "attachments:PATH" under
// the base directory. A new string, or NULL for a relative path or one with "..".
gchar* ry_linked_file_path(const gchar* library_dir, const gchar* stored_path);
// Where the file of an attachment lies: stored kinds under library_dir/storage/key/, a
// linked file as ry_linked_file_path says. A new string, or NULL when the stored path
// is empty or leads out of its place.
gchar* ry_attachment_file_path(const gchar* library_dir, const gchar* key, const gchar* stored_path,
                               int link_mode);

// What the attachment list's "row-activated" handler needs: the library directory and
// the history that an opened item enters (may be NULL).
struct ry_attachment_context {
    const gchar* library_dir;
    GQueue* history;
};
// "row-activated" of the attachment list, connected before every other handler:
// while an opening waits for the daemon's answer, a further tap does nothing.
void ry_ignore_taps_while_opening(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column,
                                  gpointer data);
// Whether an opening waits for the daemon's answer.
gboolean ry_attachment_opening();
// "row-activated" of the attachment list; data is a ry_attachment_context. Says why an
// attachment cannot be opened (a web link, a file not found, an unknown format), else
// sends the viewer's start without waiting: the list's header reads "Opening NAME..."
// until the daemon answers; a refusal or timeout then gives its dialog, an acceptance
// moves the item to the head of the history.
void ry_attachment_activated(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column,
                             gpointer data);
// 0 on success.
int create_metadatabase(const gchar* directory, const gchar* filename, const gchar* fullpath);

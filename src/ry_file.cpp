// File types and viewers from the platform registry, path helpers, and opening
// an activated attachment.
#include "ry_file.h"

#include <cstring>

gchar* get_dir_name(const char* path) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) return g_strdup("");
    return g_strndup(path, slash - path);
}

// PENDING(attachments issue): registry and activation.
filetype_info_t* find_filetype_info(const gchar*) { return nullptr; }
const gchar* get_viewer_from_file_extension(const gchar*) { return nullptr; }
gchar* get_icon_file_from_file_extension(const gchar*) { return nullptr; }
const char* ry_remove_prefix(const gchar* str, const gchar*) { return str; }
const char* ry_mime_pointer(const char* path) { return path; }
const char* g_extension_pointer(const char*) { return nullptr; }
void ry_attachment_activated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer) {}
int create_metadatabase(const gchar*, const gchar*, const gchar*) { return 1; }

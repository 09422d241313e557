// The history of opened items and its key file: loaded at start-up, updated when an
// attachment is opened, written back at shutdown.
#include "ry_recent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ry_model.h"
#include "ry_raii.h"

namespace {

const gchar first_group[] = "HISTORY";
const gchar library_key[] = "library";
// The library whose history this run keeps ("" when none was named), and its group:
// "HISTORY" for the library that group names, or for the first library opened when it
// names none (a file of an earlier version); "HISTORY <path>" for any other.
std::string history_library;
std::string history_group = first_group;

void choose_group(GKeyFile* keyfile) {
    history_group = first_group;
    if (history_library.empty()) return;
    ry::gchar_ptr owner(g_key_file_get_string(keyfile, first_group, library_key, nullptr));
    if (owner && history_library != owner.get()) history_group += " " + history_library;
}

// Writes down which library the first group belongs to, once it has one.
void claim_group(GKeyFile* keyfile) {
    if (!history_library.empty() && history_group == first_group)
        g_key_file_set_string(keyfile, first_group, library_key, history_library.c_str());
}
const gchar max_history_key[] = "max_history";
const gchar items_key[] = "items";
const gint new_file_slots = 10;
const gint empty_slot = -1;

// The number of slots that "max_history" gives, within [0, RY_MAX_HISTORY_SLOTS];
// 0 when the group or key is missing or the value is not an integer.
gint history_slots(GKeyFile* keyfile) {
    GError* error = nullptr;
    gint value = g_key_file_get_integer(keyfile, history_group.c_str(), max_history_key, &error);
    if (error != nullptr) {
        g_error_free(error);
        return 0;
    }
    return std::clamp(value, 0, RY_MAX_HISTORY_SLOTS);
}

void start_new_history(GKeyFile* keyfile, GQueue* history) {
    g_key_file_set_integer(keyfile, history_group.c_str(), max_history_key, new_file_slots);
    std::vector<gint> items(new_file_slots, empty_slot);
    for (gint id : items) g_queue_push_tail(history, GINT_TO_POINTER(id));
    g_key_file_set_integer_list(keyfile, history_group.c_str(), items_key, items.data(), items.size());
}

// Something other than a regular file stands at the path (a FIFO would block the
// reader for ever): the program neither reads nor replaces it.
bool is_special(const struct stat& st) { return !S_ISREG(st.st_mode); }

bool special_file_at(const gchar* filename) {
    struct stat st;
    return stat(filename, &st) == 0 && is_special(st);
}

// The file's text, or false when it is missing, unreadable, not a regular file or
// larger than RY_MAX_HISTORY_BYTES.
bool read_history_text(const gchar* filename, std::string* text) {
    int fd = open(filename, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && !is_special(st) && st.st_size <= RY_MAX_HISTORY_BYTES;
    char buffer[4096];
    while (ok) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text->append(buffer, size_t(n));
        // It may have grown since it was measured.
        ok = text->size() <= RY_MAX_HISTORY_BYTES;
    }
    close(fd);
    return ok;
}

bool load_history(GKeyFile* keyfile, const gchar* filename) {
    std::string text;
    return read_history_text(filename, &text) &&
           g_key_file_load_from_data(keyfile, text.data(), text.size(),
                                     GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
                                     nullptr);
}

}  // namespace

GKeyFile* ry_parse_history_file(const gchar* filename, GQueue* history) {
    bool special = special_file_at(filename);
    if (special)
        fprintf(stderr, "History file %s is not a regular file: it is ignored and left as it is\n", filename);
    GKeyFile* keyfile = g_key_file_new();
    if (special || !load_history(keyfile, filename)) {
        // A failed load can leave the lines read before the fault in the key file;
        // start from a clean one so that none of that junk is written back.
        g_key_file_free(keyfile);
        keyfile = g_key_file_new();
    }
    choose_group(keyfile);
    // A library met for the first time starts with empty slots, as does an empty file
    // (or one of comments only, which are kept) that we have not written yet.
    gsize n_groups = 0;
    g_strfreev(g_key_file_get_groups(keyfile, &n_groups));
    if (n_groups == 0 ||
        (history_group != first_group && !g_key_file_has_group(keyfile, history_group.c_str()))) {
        start_new_history(keyfile, history);
        claim_group(keyfile);
        return keyfile;
    }

    gint slots = history_slots(keyfile);
    gsize n_items = 0;
    // Ids that are not all integers make the whole list unusable, as GLib reads it.
    ry::g_free_ptr<gint[]> items(
        g_key_file_get_integer_list(keyfile, history_group.c_str(), items_key, &n_items, nullptr));
    if (!items) n_items = 0;
    for (gint i = 0; i < slots; ++i) {
        gint id = gsize(i) < n_items ? items[i] : empty_slot;
        g_queue_push_tail(history, GINT_TO_POINTER(id));
    }
    claim_group(keyfile);
    return keyfile;
}

void ry_set_history_library(const gchar* library) { history_library = library != nullptr ? library : ""; }

void ry_push_history(GtkTreeView* tree_view, GtkTreePath* /*path*/, GtkTreeViewColumn* /*column*/,
                     gpointer history) {
    auto* queue = static_cast<GQueue*>(history);
    gint id = empty_slot;

    // The selected rows, not the activated path: whatever mode the list's selection
    // is in, the first selected row names the item.
    GtkTreeModel* model = nullptr;
    GList* rows = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(tree_view), &model);
    GtkTreeIter iter;
    if (rows != nullptr && gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath*>(rows->data)))
        gtk_tree_model_get(model, &iter, ATTACHMENT_SOURCE_ID, &id, -1);
    g_list_free_full(
        rows, +[](gpointer row) { gtk_tree_path_free(static_cast<GtkTreePath*>(row)); });
    ry_remember_item(queue, id);
}

void ry_remember_item(GQueue* queue, gint id) {
    gint n = g_queue_index(queue, GINT_TO_POINTER(id));
    if (n >= 0)
        g_queue_pop_nth(queue, guint(n));
    else
        g_queue_pop_tail(queue);
    g_queue_push_head(queue, GINT_TO_POINTER(id));
}

void ry_save_history_file(const gchar* filename, GKeyFile* histfile, GQueue* history) {
    ry::key_file_ptr keyfile(histfile);
    gint slots = history_slots(keyfile.get());

    // Most recent first; a queue shorter than the file asks for is padded with
    // empty slots rather than read past its end.
    std::vector<gint> items(slots, empty_slot);
    for (gint& id : items) {
        if (g_queue_is_empty(history)) break;
        id = GPOINTER_TO_INT(g_queue_pop_head(history));
    }
    g_queue_clear(history);
    // GLib refuses a null list even when it is empty.
    gint none = 0;
    g_key_file_set_integer_list(keyfile.get(), history_group.c_str(), items_key,
                                items.empty() ? &none : items.data(), items.size());

    gsize length = 0;
    ry::gchar_ptr text(g_key_file_to_data(keyfile.get(), &length, nullptr));
    keyfile.reset();
    // The file is replaced through a temporary and a rename: a write that fails
    // leaves the old file as it was. Nobody is told, as there is nobody to tell.
    if (text && !special_file_at(filename))
        g_file_set_contents(filename, text.get(), gssize(length), nullptr);
}
